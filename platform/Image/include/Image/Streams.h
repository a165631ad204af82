// Read streams and the stream toolkit ("Image.StreamsToolkit").
//
// A CReadImageStream delivers bytes on request. Read(target, size) delivers
// exactly size bytes until the stream's end and fewer only there; a read at
// the end delivers 0. A negative size is the caller's mistake, and what it
// does is each stream's: the toolkit's streams throw a CException (kind
// argument); other streams say in their headers. Reset() starts again from
// the current content of the stream's source. Streams count references plainly (CFastObject): one thread.
//
// The toolkit makes streams over a source stream: a compressing stream
// delivers the compressed form of the source's bytes, a decompressing stream
// the original bytes of compressed ones. Compressed bytes that are damaged or
// cut short make Read throw a CException (kind archive); nothing is read from
// the source beyond its end.
#pragma once

#include <Image/Export.h>
#include <Tolm/Object.h>
#include <Tolm/String.h>

namespace Image {

class IMAGE_API CReadImageStream : public Tolm::CFastObject {
public:
    ~CReadImageStream() override;
    virtual void Reset() = 0;
    virtual int Read(void* target, int size) = 0;
    virtual int Skip(int count) = 0;
    virtual Tolm::CUnicodeString GetName() const = 0;
};

class IMAGE_API IStreamsToolkit : public virtual Tolm::IObject {
public:
    // The returned stream holds a reference to its source.
    virtual Tolm::CPtr<CReadImageStream> CreateCompressingStream(CReadImageStream* source) = 0;
    virtual Tolm::CPtr<CReadImageStream> CreateDecompressingStream(CReadImageStream* source) = 0;

protected:
    ~IStreamsToolkit() override;
};

}  // namespace Image
