// SaveImage with the real image library, each file decoded back with
// libjpeg-turbo; and, in child processes, with stand-ins for the image
// library's objects where a report of a broken precondition must return
// without anything being called on a missing object.
#include <Korvan/ImageSaving.h>

#include <Image/ImageServices.h>
#include <Tolm/Error.h>
#include <Tolm/File.h>
#include <Tolm/Object.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Reports of broken preconditions, recorded by a handler that returns.
std::vector<Tolm::InternalErrorReport> reports;
// Whether the file being saved existed when each report was made.
std::vector<bool> fileExistedAtReport;
fs::path watchedFile;

bool recordReport(const Tolm::InternalErrorReport& report) {
    reports.push_back(report);
    fileExistedAtReport.push_back(!watchedFile.empty() && fs::exists(watchedFile));
    return false;
}

class RecordedReports {
public:
    explicit RecordedReports(const fs::path& watched = {})
        : previous_(Tolm::SetInternalErrorHandler(recordReport)) {
        reports.clear();
        fileExistedAtReport.clear();
        watchedFile = watched;
    }
    ~RecordedReports() { Tolm::SetInternalErrorHandler(previous_); }
    RecordedReports(const RecordedReports&) = delete;
    RecordedReports& operator=(const RecordedReports&) = delete;

    static int CountFrom(const std::string& file) {
        int count = 0;
        for (const auto& report : reports) count += report.file == file ? 1 : 0;
        return count;
    }

private:
    Tolm::InternalErrorHandler previous_;
};

struct Decoded {
    int width = 0;
    int height = 0;
    int components = 0;
    std::vector<unsigned char> pixels;  // rows without padding
};

Decoded decodeJpegFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
                 static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return {};
    jpeg_start_decompress(&info);
    Decoded image{static_cast<int>(info.output_width),
                  static_cast<int>(info.output_height),
                  info.output_components,
                  {}};
    const std::size_t rowBytes =
        static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.components);
    image.pixels.resize(rowBytes * static_cast<std::size_t>(image.height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.pixels.data() + rowBytes * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return image;
}

// A smooth picture that JPEG keeps closely at quality 100; colority 0 gets
// 8x8 blocks of black and white, which it keeps as well.
Tolm::CPtr<Image::IImage> makeImage(int width, int height, int colority) {
    Tolm::CPtr<Image::IImage> image = Image::CreateImage(width, height, colority);
    for (int y = 0; y < height; ++y) {
        unsigned char* row = image->GetMutablePixels() + static_cast<std::ptrdiff_t>(y) * image->GetStride();
        for (int x = 0; x < width; ++x) {
            if (colority == 0) {
                if (((x / 8) + (y / 8)) % 2 == 1) row[x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
            } else if (colority == 1) {
                row[x] = static_cast<unsigned char>(40 + (x * 3 + y * 2) % 160);
            } else {
                row[3 * x] = static_cast<unsigned char>(20 + x * 4);
                row[3 * x + 1] = static_cast<unsigned char>(30 + y * 5);
                row[3 * x + 2] = static_cast<unsigned char>(200 - x * 2 - y);
            }
        }
    }
    return image;
}

// The pixels of an image as grey or RGB bytes, as a decoder gives them: a
// set bit of colority 0 is black (0), a clear one white (255).
std::vector<unsigned char> expectedSamples(const Image::IImage& image) {
    std::vector<unsigned char> samples;
    for (int y = 0; y < image.GetHeight(); ++y) {
        const unsigned char* row = image.GetPixels() + static_cast<std::ptrdiff_t>(y) * image.GetStride();
        for (int x = 0; x < image.GetWidth(); ++x) {
            if (image.GetColority() == 0) {
                samples.push_back((row[x / 8] & (0x80 >> (x % 8))) ? 0 : 255);
            } else if (image.GetColority() == 1) {
                samples.push_back(row[x]);
            } else {
                samples.insert(samples.end(), row + 3 * x, row + 3 * x + 3);
            }
        }
    }
    return samples;
}

int maxDifference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    int worst = a.size() == b.size() ? 0 : 256;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

std::vector<unsigned char> pixelBytes(const Image::IImage& image) {
    return {image.GetPixels(),
            image.GetPixels() + static_cast<std::ptrdiff_t>(image.GetStride()) * image.GetHeight()};
}

// An image that answers a colority of its own choosing over real pixels.
class ColorityOverride final : public Image::IImage {
public:
    ColorityOverride(Tolm::CPtr<Image::IImage> inner, int colority)
        : inner_(std::move(inner)), colority_(colority) {}
    int GetColority() const override { return colority_; }
    int GetWidth() const override { return inner_->GetWidth(); }
    int GetHeight() const override { return inner_->GetHeight(); }
    int GetStride() const override { return inner_->GetStride(); }
    const unsigned char* GetPixels() const override { return inner_->GetPixels(); }
    unsigned char* GetMutablePixels() override { return inner_->GetMutablePixels(); }

private:
    Tolm::CPtr<Image::IImage> inner_;
    int colority_;
};

class SaveImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("gearset-saveimage-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path File(const std::string& name) const { return dir_ / name; }
    static Tolm::CUnicodeString Text(const fs::path& path) {
        return Tolm::CUnicodeString::FromUtf8(path.string());
    }

    fs::path dir_;
};

// JPEG's loss at quality 100 with full-resolution chroma: a few levels.
constexpr int kQuality100Loss = 6;

TEST_F(SaveImageTest, GreyAndColourImagesAreWrittenAsTheyAre) {
    struct Row {
        int colority;
        int components;
    };
    for (const Row row : {Row{1, 1}, Row{2, 3}}) {
        SCOPED_TRACE(row.colority);
        const Tolm::CPtr<Image::IImage> image = makeImage(37, 23, row.colority);
        const RecordedReports recorded;
        Korvan::SaveImage(image.Get(), Text(File("out.jpg")));
        EXPECT_TRUE(reports.empty());
        const Decoded decoded = decodeJpegFile(File("out.jpg"));
        EXPECT_EQ(decoded.width, 37);
        EXPECT_EQ(decoded.height, 23);
        EXPECT_EQ(decoded.components, row.components);
        EXPECT_LE(maxDifference(decoded.pixels, expectedSamples(*image)), kQuality100Loss);
    }
}

TEST_F(SaveImageTest, BlackAndWhiteIsWrittenFromAGreyCopyAndTheCallersImageStays) {
    const Tolm::CPtr<Image::IImage> image = makeImage(40, 24, 0);
    const std::vector<unsigned char> before = pixelBytes(*image);
    Korvan::SaveImage(image.Get(), Text(File("bw.jpg")));
    EXPECT_EQ(image->GetColority(), 0);
    EXPECT_EQ(pixelBytes(*image), before);
    const Decoded decoded = decodeJpegFile(File("bw.jpg"));
    EXPECT_EQ(decoded.width, 40);
    EXPECT_EQ(decoded.height, 24);
    EXPECT_EQ(decoded.components, 1);
    EXPECT_LE(maxDifference(decoded.pixels, expectedSamples(*image)), kQuality100Loss);
}

TEST_F(SaveImageTest, NullImageTouchesNothing) {
    const RecordedReports recorded;
    Korvan::SaveImage(nullptr, Text(File("never.jpg")));
    Korvan::SaveImage(nullptr, Text(File("no/such/folder/never.jpg")));
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(SaveImageTest, AnExistingFileIsEmptiedAndOverwritten) {
    std::ofstream(File("old.jpg"), std::ios::binary) << std::string(1 << 20, 'x');
    const Tolm::CPtr<Image::IImage> image = makeImage(16, 16, 2);
    Korvan::SaveImage(image.Get(), Text(File("old.jpg")));
    EXPECT_LT(fs::file_size(File("old.jpg")), 1u << 20);
    EXPECT_EQ(decodeJpegFile(File("old.jpg")).width, 16);
}

TEST_F(SaveImageTest, PathsLongerThanTheOrdinaryLimitAreWritten) {
    fs::path deep = dir_;
    for (int i = 0; i < 6; ++i) deep /= std::string(60, static_cast<char>('a' + i));
    fs::create_directories(deep);
    const fs::path file = deep / "page.jpg";
    ASSERT_GT(file.string().size(), 300u);
    Korvan::SaveImage(makeImage(8, 8, 1).Get(), Text(file));
    EXPECT_EQ(decodeJpegFile(file).components, 1);
}

TEST_F(SaveImageTest, MissingFolderOrUnwritablePathRaisesTheFileError) {
    const Tolm::CPtr<Image::IImage> image = makeImage(8, 8, 2);
    for (const fs::path& target : {File("no/such/folder/a.jpg"), dir_}) {
        SCOPED_TRACE(target.string());
        const RecordedReports recorded;
        try {
            Korvan::SaveImage(image.Get(), Text(target));
            ADD_FAILURE() << "no error raised";
        } catch (Tolm::CException* error) {
            EXPECT_EQ(error->GetKind(), Tolm::CException::Kind::file);
            EXPECT_NE(std::string(error->GetMessage()).find(target.string()), std::string::npos)
                << error->GetMessage();
            error->Delete();
        }
        EXPECT_TRUE(reports.empty());
    }
    EXPECT_FALSE(fs::exists(File("no")));
}

TEST_F(SaveImageTest, ColorityOutsideTheRangeIsReportedOnceTheFileIsOpen) {
    const Tolm::CPtr<Image::IImage> odd(new ColorityOverride(makeImage(8, 8, 2), 3));
    {
        const RecordedReports recorded(File("odd.jpg"));
        try {
            Korvan::SaveImage(odd.Get(), Text(File("odd.jpg")));
        } catch (Tolm::CException* error) {
            error->Delete();  // the writer may refuse the image; the report is what counts
        }
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].file, "Src\\BasicTools");
        EXPECT_EQ(reports[0].type, Tolm::ieBrokenPrecondition);
        EXPECT_EQ(reports[0].code, 0u);
        EXPECT_TRUE(fileExistedAtReport[0]);
        EXPECT_TRUE(fs::exists(File("odd.jpg")));
    }
    fs::remove(File("odd.jpg"));
    try {
        Korvan::SaveImage(odd.Get(), Text(File("odd.jpg")));
        ADD_FAILURE() << "the report did not raise";
    } catch (Tolm::CException* error) {
        EXPECT_EQ(error->GetKind(), Tolm::CException::Kind::internal);
        EXPECT_NE(std::string(error->GetMessage()).find("BasicTools"), std::string::npos)
            << error->GetMessage();
        error->Delete();
    }
    EXPECT_TRUE(fs::exists(File("odd.jpg")));
}

// ---------------------------------------------------------------------------
// Stand-ins for the image library, registered in child processes only: a
// registration replaces the real class for the rest of the process.

std::vector<std::string> events;

class FakeSaveParams final : public Image::IJpegSaveParams {
public:
    ~FakeSaveParams() override { events.push_back("release params"); }
    void SetColority(int colority) override { events.push_back("colority " + std::to_string(colority)); }
    void SetQuality(int quality) override { events.push_back("quality " + std::to_string(quality)); }
    int GetColority() const override { return 2; }
    int GetQuality() const override { return 75; }
};

class FakeWriter final : public Image::IImageWriter {
public:
    explicit FakeWriter(const Image::IImage* callersImage) : callersImage_(callersImage) {}
    ~FakeWriter() override { events.push_back("release writer"); }
    void Write(const Image::IImage* image, const Tolm::IObject* params) override {
        events.push_back(
            std::string("write ") + (image == callersImage_ ? "caller's image" : "another image") +
            " colority " + std::to_string(image->GetColority()) +
            (dynamic_cast<const FakeSaveParams*>(params) ? " with the params" : " without params"));
    }

private:
    const Image::IImage* callersImage_;
};

const Image::IImage* callersImage = nullptr;
enum class FormatKind { jpeg, none, notJpeg, noParams } formatKind = FormatKind::jpeg;

class FakeJpegFormat final : public Image::IJpegImageFileFormat {
public:
    int GetId() const override { return Image::kJpegFormatId; }
    Tolm::CUnicodeString GetName() const override { return u"fake JPEG"; }
    Tolm::CPtr<Image::IImageWriter> CreateWriter(Tolm::CBaseFile&) override {
        events.push_back("create writer");
        return Tolm::CPtr<Image::IImageWriter>(new FakeWriter(callersImage));
    }
    Tolm::CPtr<Image::IJpegSaveParams> CreateSaveParams() override {
        events.push_back("create params");
        if (formatKind == FormatKind::noParams) return {};
        return Tolm::CPtr<Image::IJpegSaveParams>(new FakeSaveParams);
    }
};

class FakePngFormat final : public Image::IImageFileFormat {
public:
    int GetId() const override { return Image::kJpegFormatId; }
    Tolm::CUnicodeString GetName() const override { return u"not JPEG"; }
};

class FakeServices final : public Image::IImageServices, private Image::IImageFileFormatRegistry {
public:
    FakeServices() : jpeg_(new FakeJpegFormat), png_(new FakePngFormat) {}
    ~FakeServices() override { events.push_back("release services"); }
    Image::IImageFileFormatRegistry* GetFileFormatRegistry() override { return this; }

private:
    Image::IImageFileFormat* GetFileFormat(int id) const override {
        if (id != Image::kJpegFormatId || formatKind == FormatKind::none) return nullptr;
        if (formatKind == FormatKind::notJpeg) return png_.Get();
        return jpeg_.Get();
    }
    Tolm::CPtr<FakeJpegFormat> jpeg_;
    Tolm::CPtr<FakePngFormat> png_;
};

Tolm::IObject* createFakeServices() {
    events.push_back("create services");
    return new FakeServices;
}

// Run in a child process (a death test) with the fake services registered:
// exits 0 when every expectation inside held.
template <class Body>
void runWithFakeServices(const Body& body) {
    Tolm::RegisterClass(u"Image.ImageServices", createFakeServices);
    body();
    std::exit(::testing::Test::HasFailure() ? 1 : 0);
}

TEST_F(SaveImageTest, StepsRunInOrderAndObjectsAreReleasedInReverse) {
    const auto body = [this] {
        for (int colority : {0, 1, 2}) {
            const Tolm::CPtr<Image::IImage> image = makeImage(8, 8, colority);
            callersImage = image.Get();
            events.clear();
            Korvan::SaveImage(image.Get(), Text(File("fake.jpg")));
            const std::string written = colority == 0 ? "write another image colority 1 with the params"
                                                      : "write caller's image colority " +
                                                            std::to_string(colority) + " with the params";
            const std::vector<std::string> expected{
                "create services",
                "create params",
                "quality 100",
                "create writer",
                colority == 0 ? "colority 1" : "colority " + std::to_string(colority),
                written,
                "release writer",
                "release params",
                "release services"};
            EXPECT_EQ(events, expected);
        }
    };
    EXPECT_EXIT(runWithFakeServices(body), ::testing::ExitedWithCode(0), "");
}

TEST_F(SaveImageTest, AMissingOrWrongFormatIsReportedAndNothingIsCalledOnIt) {
    for (FormatKind kind : {FormatKind::none, FormatKind::notJpeg, FormatKind::noParams}) {
        formatKind = kind;
        const auto body = [this] {
            const Tolm::CPtr<Image::IImage> image = makeImage(8, 8, 2);
            const RecordedReports recorded;
            events.clear();
            Korvan::SaveImage(image.Get(), Text(File("never.jpg")));
            EXPECT_EQ(RecordedReports::CountFrom("Src\\BasicTools"), 1);
            EXPECT_EQ(reports.size(), 1u);
            EXPECT_FALSE(fs::exists(File("never.jpg")));
            EXPECT_EQ(events.back(), "release services");
        };
        EXPECT_EXIT(runWithFakeServices(body), ::testing::ExitedWithCode(0), "");
    }
    formatKind = FormatKind::jpeg;
}

TEST_F(SaveImageTest, AMissingGreyTransformerLeavesTheFileUnwritten) {
    const auto body = [this] {
        Tolm::UnregisterClass(u"Image.ColorityConversionToGrayTransformer");
        const Tolm::CPtr<Image::IImage> image = makeImage(8, 8, 0);
        const RecordedReports recorded;
        Korvan::SaveImage(image.Get(), Text(File("grey.jpg")));
        // The factory reports the unknown class; SaveImage goes on without it.
        EXPECT_EQ(reports.size(), 1u);
        EXPECT_EQ(RecordedReports::CountFrom("Src\\BasicTools"), 0);
        EXPECT_TRUE(fs::exists(File("grey.jpg")));
        EXPECT_EQ(fs::file_size(File("grey.jpg")), 0u);
        std::exit(::testing::Test::HasFailure() ? 1 : 0);
    };
    EXPECT_EXIT(body(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
