// One call of each family of the library, as a user's program makes them
// against the installed package. Exits 0 when every answer is the expected one,
// else names the first that is not. argv[1] is a folder it may write in.
#include <Image/Image.h>
#include <Korvan/BasicTools.h>
#include <Korvan/EncodingInstr.h>
#include <Korvan/FileDataStorage.h>
#include <Korvan/FolderWorker.h>
#include <Korvan/ImageSaving.h>
#include <Korvan/PdfDateFormats.h>
#include <Tolm/Array.h>
#include <Tolm/File.h>
#include <Tolm/FileSystem.h>
#include <Tolm/Time.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int failed(const char* family) {
    std::fprintf(stderr, "consumer: %s gave an unexpected answer\n", family);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return failed("the command line");
    const Tolm::CUnicodeString folder = Tolm::CUnicodeString::FromUtf8(argv[1]);
    try {
        Korvan::CFileDataStorage store(4096, false);
        const unsigned char record[] = "record bytes";
        Tolm::CArray<unsigned char, Tolm::CurrentMemoryManager> back;
        store.ReadRecord(store.WriteRecord(record, sizeof record), back);
        if (back.GetSize() != static_cast<int>(sizeof record) ||
            std::memcmp(back.GetData(), record, sizeof record))
            return failed("the record store");

        Korvan::CByteArray bytes;
        Korvan::UnicodeStringToBytes(u"caf\u00E9", false, bytes);
        if (Korvan::BytesToUnicodeString(bytes) != Tolm::CUnicodeString(u"caf\u00E9"))
            return failed("text strings");

        const Tolm::CTime time(2024, 1, 2, 3, 4, 5);
        if (Korvan::ConvertTimeStringToTime(Korvan::ConvertTimeToISOFormat(time)) != time)
            return failed("dates");

        const char pdf[] = "%PDF-1.7 1 0 obj endobj";
        if (Korvan::ScanTo(pdf, static_cast<int>(sizeof pdf - 1), Tolm::CString("endobj")) != 17)
            return failed("byte instruments");

        const Tolm::CUnicodeString made = Tolm::FileSystem::CombinePath(folder, u"made/here");
        Korvan::CFolderWorker::CreateDirRecursive(made);
        if (!Tolm::FileSystem::AccessDir(made)) return failed("folders");

        const Tolm::CPtr<Image::IImage> image = Image::CreateImage(8, 8, 2);
        const Tolm::CUnicodeString jpeg = Tolm::FileSystem::CombinePath(folder, u"out.jpg");
        Korvan::SaveImage(image.Get(), jpeg);
        if (Tolm::CFile(jpeg, Tolm::CFile::modeRead).GetLength() < 100) return failed("JPEG saving");
    } catch (Tolm::CException* error) {
        std::fprintf(stderr, "consumer: %s\n", error->GetMessage());
        error->Delete();
        return 1;
    }
    std::puts("consumer: every family answered");
    return 0;
}
