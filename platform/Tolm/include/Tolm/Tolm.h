// The whole framework in one include.
#pragma once

#include <Tolm/Archive.h>
#include <Tolm/Array.h>
#include <Tolm/Error.h>
#include <Tolm/File.h>
#include <Tolm/FileSystem.h>
#include <Tolm/Memory.h>
#include <Tolm/Module.h>
#include <Tolm/Object.h>
#include <Tolm/String.h>
#include <Tolm/Time.h>
#include <Tolm/Types.h>
