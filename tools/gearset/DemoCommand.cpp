// gearset demo: every family of the library once, on built-in data, with a
// line on what each step did. Needs no files; what it creates lives under a
// fresh temporary directory that is removed at the end.
#include "Commands.h"
#include "Formats.h"
#include "Platform.h"

#include <Image/Image.h>
#include <Korvan/BasicTools.h>
#include <Korvan/EncodingInstr.h>
#include <Korvan/FileDataStorage.h>
#include <Korvan/FolderWorker.h>
#include <Korvan/ImageSaving.h>
#include <Korvan/ObjectsFileCache.h>
#include <Korvan/PdfDateFormats.h>
#include <Tolm/Archive.h>
#include <Tolm/Array.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>

namespace gearset {
namespace {

namespace fs = std::filesystem;

// A small object for the cache to park: a note with a title and a page count.
class CDemoNote final : public Tolm::ISerializable {
public:
    TOLM_DECLARE_SERIAL

    Tolm::CUnicodeString title;
    std::int32_t pages = 0;
};

TOLM_IMPLEMENT_SERIAL(CDemoNote, u"Gearset.DemoNote");

void CDemoNote::Serialize(Tolm::CArchive& archive) {
    if (archive.IsStoring()) {
        archive << title << pages;
    } else {
        archive >> title >> pages;
    }
}

// A fresh directory under the system's temporary folder, removed with all
// its content when the demo ends, whether it succeeded or not.
class TemporaryRoot {
public:
    TemporaryRoot() {
        std::random_device seed;
        // The library's own message names neither the folder nor the variable.
        std::error_code failure;
        const fs::path folder = fs::temp_directory_path(failure);
        if (failure)
            throw ToolFailure(
                "no folder for temporary files (TMPDIR, or TMP on Windows, names none that "
                "exists): " +
                failure.message());
        for (int attempt = 0; attempt < 100; ++attempt) {
            const fs::path candidate = folder / ("gearset-demo-" + std::to_string(seed() % 1000000));
            if (fs::create_directory(candidate)) {
                path_ = candidate;
                return;
            }
        }
        throw ToolFailure("cannot create a temporary directory under '" + FromPath(folder) + "'");
    }
    ~TemporaryRoot() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TemporaryRoot(const TemporaryRoot&) = delete;
    TemporaryRoot& operator=(const TemporaryRoot&) = delete;

    const fs::path& Path() const noexcept { return path_; }

private:
    fs::path path_;
};

void check(bool condition, const std::string& what) {
    if (!condition) throw ToolFailure("demo step failed: " + what);
}

void demoRecordStore(Context& context) {
    std::string record;
    for (int line = 0; record.size() < 3000; ++line) {
        record += "BT /F1 11 Tf 72 " + std::to_string(720 - 14 * line) + " Td (Line " + std::to_string(line) +
                  " of the demo page) Tj ET\n";
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(record.data());
    const int length = static_cast<int>(record.size());

    Print(context.out, "record store (CFileDataStorage, compressed)\n");
    Korvan::CFileDataStorage store(4096, true);
    const int number = store.WriteRecord(bytes, length);
    Print(context.out, "  wrote record %d: %d bytes of a page content stream\n", number, length);
    Tolm::CArray<unsigned char, Tolm::CurrentMemoryManager> back;
    store.ReadRecord(number, back);
    check(back.GetSize() == length && std::memcmp(back.GetData(), bytes, record.size()) == 0,
          "the record did not read back as written");
    Print(context.out, "  read record %d back: %d bytes, identical\n", number, back.GetSize());
    store.FreeRecord(number);
    Print(context.out, "  freed record %d\n", number);
}

void demoObjectCache(Context& context) {
    Print(context.out, "object cache (CObjectsFileCache)\n");
    Korvan::CObjectsFileCache cache;
    Tolm::CPtr<CDemoNote> note(new CDemoNote());
    note->title = u"Quarterly report";
    note->pages = 12;
    const int number = cache.Save(note.Get());
    Print(context.out, "  parked a note \"%s\" (%d pages) as record %d\n", note->title.ToUtf8().c_str(),
          note->pages, number);
    const Tolm::CPtr<Tolm::IObject> rebuilt = cache.Load(number);
    const auto* copy = dynamic_cast<const CDemoNote*>(rebuilt.Get());
    check(copy && copy->title == note->title && copy->pages == note->pages,
          "the note did not come back as parked");
    Print(context.out, "  rebuilt it from record %d: \"%s\" (%d pages), a new object\n", number,
          copy->title.ToUtf8().c_str(), copy->pages);
}

void demoText(Context& context) {
    Print(context.out, "PDF text strings\n");
    for (const char* utf8 : {"Invoice 42",
                             "Gr\xC3\xBC\xC3\x9F"
                             "e"}) {
        const Tolm::CUnicodeString text = ToUnicode(utf8);
        Tolm::CFastArray<unsigned char, 32, Tolm::CurrentMemoryManager> bytes;
        Korvan::UnicodeStringToBytes(text, false, bytes);
        const Tolm::CUnicodeString decoded = Korvan::BytesToUnicodeString(bytes);
        check(decoded == text, "the text did not decode back");
        Print(context.out, "  encoded \"%s\" as %s; decoded it back to \"%s\"\n", utf8,
              FormatHexBytes(bytes.GetData(), bytes.GetSize()).c_str(), decoded.ToUtf8().c_str());
    }
}

void demoDates(Context& context) {
    Print(context.out, "PDF dates (local zone)\n");
    const Tolm::CTime time(2024, 1, 2, 3, 4, 5, 0, 0);
    const Tolm::CUnicodeString docInfo = Korvan::ConvertTimeToDocInfoFormat(time);
    const Tolm::CUnicodeString iso = Korvan::ConvertTimeToISOFormat(time);
    Print(context.out, "  formatted %s as %s and %s\n", FormatTimeText(time).c_str(),
          docInfo.ToUtf8().c_str(), iso.ToUtf8().c_str());
    const Tolm::CTime fromDocInfo = Korvan::ConvertTimeStringToTime(docInfo);
    const Tolm::CTime fromIso = Korvan::ConvertTimeStringToTime(iso);
    check(fromDocInfo == time && fromIso == time, "a date did not read back");
    Print(context.out, "  read both back as %s\n", FormatTimeText(fromDocInfo).c_str());
}

void demoPatterns(Context& context) {
    Print(context.out, "byte instruments\n");
    static constexpr char kPdf[] =
        "%PDF-1.7\n1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"
        "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\nstartxref\n9\n%%EOF\n";
    const int length = static_cast<int>(sizeof kPdf - 1);
    const Tolm::CString pattern("endobj");
    const int first = Korvan::ScanTo(kPdf, length, pattern);
    const int last = Korvan::ScanBackTo(kPdf, length - 1, pattern);
    check(first >= 0 && last > first, "the pattern was not found");
    Print(context.out, "  found \"endobj\" in a %d-byte PDF at offset %d (first) and %d (last)\n", length,
          first, last);
}

void demoFolders(Context& context, const fs::path& root) {
    Print(context.out, "folders (CFolderWorker)\n");
    const fs::path nested = root / "reports" / "2024" / "q1";
    Korvan::CFolderWorker::CreateDirRecursive(ToUnicode(FromPath(nested)));
    check(fs::is_directory(nested), "the nested directory is missing");
    Print(context.out, "  created %s with its parents\n", FromPath(nested).c_str());
    const std::string stamped =
        Korvan::CFolderWorker::CreateSubDirByCurrentTime(ToUnicode(FromPath(root / "runs"))).ToUtf8();
    check(fs::is_directory(ToPath(stamped)), "the time-stamped directory is missing");
    Print(context.out, "  created %s, named after the current time\n", stamped.c_str());
    fs::remove_all(root / "reports");
    fs::remove_all(root / "runs");
    check(!fs::exists(nested) && !fs::exists(ToPath(stamped)), "the directories were not removed");
    Print(context.out, "  removed both\n");
}

void demoImage(Context& context, const fs::path& root) {
    Print(context.out, "image saving (SaveImage)\n");
    const int width = 64;
    const int height = 48;
    Tolm::CPtr<Image::IImage> image = Image::CreateImage(width, height, 2);
    unsigned char* pixels = image->GetMutablePixels();
    for (int y = 0; y < height; ++y) {
        unsigned char* row = pixels + static_cast<std::ptrdiff_t>(y) * image->GetStride();
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<unsigned char>(x * 4);
            row[3 * x + 1] = static_cast<unsigned char>(y * 5);
            row[3 * x + 2] = static_cast<unsigned char>(128);
        }
    }
    const fs::path file = root / "demo.jpg";
    Korvan::SaveImage(image.Get(), ToUnicode(FromPath(file)));
    check(fs::is_regular_file(file) && fs::file_size(file) > 0, "no JPEG file was written");
    Print(context.out, "  wrote a %dx%d colour image to %s: %llu bytes of JPEG\n", width, height,
          FromPath(file).c_str(), static_cast<unsigned long long>(fs::file_size(file)));
    fs::remove(file);
    Print(context.out, "  removed it\n");
}

int runDemo(const ParsedArguments&, Context& context) {
    const TemporaryRoot root;
    demoRecordStore(context);
    demoObjectCache(context);
    demoText(context);
    demoDates(context);
    demoPatterns(context);
    demoFolders(context, root.Path());
    demoImage(context, root.Path());
    Print(context.out, "done: every family ran once\n");
    return 0;
}

const Command kCommands[] = {
    {{"demo",
      "",
      "Runs every family of the library once on built-in data.",
      {},
      {},
      0,
      0,
      "Writes, reads and frees a record; parks an object and rebuilds it; encodes\n"
      "and decodes a text; formats a date and reads it back; finds a pattern;\n"
      "creates directories under a temporary root; writes a JPEG. Prints what each\n"
      "step did. Needs no files; leaves nothing behind.\n"},
     runDemo},
};

}  // namespace

std::span<const Command> DemoCommands() { return kCommands; }

}  // namespace gearset
