// Picture loading: the extension rules and fallbacks, bitmaps as the
// system's bitmap services decode them, TGA, JPEG, and damaged files.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <jpeglib.h>
}

#include "platform/files.h"
#include "source/loadimage.h"
#include "tests/common/testenv.h"

namespace {

void put16(std::string& s, uint16_t v) {
  s += char(v & 255);
  s += char(v >> 8);
}
void put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += char((v >> (8 * i)) & 255);
}

// A bitmap file put together field by field.
struct Bmp {
  uint32_t headerSize = 40;
  int32_t width = 1, height = 1;
  uint16_t depth = 24;
  uint32_t compression = 0;
  uint32_t sizeImage = 0;
  uint32_t used = 0;
  std::vector<uint32_t> masks;  // after an info header with bit fields
  std::string table;            // raw entries
  std::string bits;
  bool fileHeader = true;

  std::string bytes() const {
    std::string h;
    put32(h, headerSize);
    if (headerSize == 12) {
      put16(h, uint16_t(width));
      put16(h, uint16_t(height));
      put16(h, 1);
      put16(h, depth);
    } else {
      put32(h, uint32_t(width));
      put32(h, uint32_t(height));
      put16(h, 1);
      put16(h, depth);
      put32(h, compression);
      put32(h, sizeImage);
      put32(h, 2835);
      put32(h, 2835);
      put32(h, used);
      put32(h, 0);
      while (h.size() < headerSize) h += '\0';
    }
    for (uint32_t m : masks) put32(h, m);
    h += table;
    std::string out;
    if (fileHeader) {
      out = "BM";
      put32(out, uint32_t(14 + h.size() + bits.size()));
      put32(out, 0);
      put32(out, uint32_t(14 + h.size()));
    }
    return out + h + bits;
  }
};

struct Decoded {
  bool ok = false;
  PixelBuffer pixels;
  int width = 0, height = 0, bits = 0;
};

// Decodes from a heap copy of exactly the file's size, so that the
// sanitizer build sees any read past its end.
Decoded decode(const std::string& file) {
  std::vector<uint8_t> exact(file.begin(), file.end());
  Decoded d;
  d.ok = decodeBitmap(exact.data(), exact.size(), d.pixels, d.width, d.height, &d.bits);
  if (!d.ok) {
    EXPECT_TRUE(d.pixels.empty());
  }
  return d;
}

PixelBuffer rgb(std::initializer_list<int> v) { return PixelBuffer(v.begin(), v.end()); }

// A JPEG made with libjpeg's compressor: `components` 1 (grey) or 3 (RGB).
std::string makeJpeg(int width, int height, int components, const std::vector<uint8_t>& samples, int quality = 100,
                     bool progressive = false) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = JDIMENSION(width);
  c.image_height = JDIMENSION(height);
  c.input_components = components;
  c.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(samples.data()) + size_t(c.next_scanline) * width * components;
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::string s(reinterpret_cast<char*>(out), size);
  free(out);
  return s;
}

std::vector<uint8_t> readPpm(const std::string& path, int& w, int& h) {
  std::string s = testenv::readFile(path);
  int maxval = 0, consumed = 0;
  if (std::sscanf(s.c_str(), "P6 %d %d %d%n", &w, &h, &maxval, &consumed) != 3) return {};
  return std::vector<uint8_t>(s.begin() + consumed + 1, s.end());
}

void expectMatchesReference(const std::string& bmpPath, const std::string& ppmPath) {
  SCOPED_TRACE(bmpPath);
  int w = 0, h = 0;
  std::vector<uint8_t> expected = readPpm(ppmPath, w, h);
  ASSERT_FALSE(expected.empty());
  Decoded d = decode(testenv::readFile(bmpPath));
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.width, w);
  EXPECT_EQ(d.height, h);
  ASSERT_EQ(d.pixels.size(), expected.size());
  size_t differing = 0;
  for (size_t i = 0; i < expected.size(); ++i) differing += d.pixels[i] != expected[i];
  EXPECT_EQ(differing, 0u);
}

TEST(Bitmap, LocalSuiteFilesMatchTheirReferences) {
  const std::string dir = testenv::dataDir() + "/source/bmp/";
  for (const char* name : {"pal4rle", "pal8os2", "rgb16-565"})
    expectMatchesReference(dir + name + ".bmp", dir + name + ".ppm");
}

TEST(Bitmap, EveryGoodSuiteBitmapWithCoreOrInfoHeader) {
  const std::string shared = testenv::sharedDataDir();
  if (shared.empty())
    LM_SKIP_UNLESS_REQUIRED(testenv::Need::sharedData, "the shared BMP suite is not beside the checkout");
  std::vector<platform::DirEntry> entries;
  ASSERT_TRUE(platform::listDirectory(shared + "/bmp/g", "*.bmp", entries));
  int compared = 0;
  for (const auto& e : entries) {
    const std::string file = testenv::readFile(shared + "/bmp/g/" + e.name);
    ASSERT_GE(file.size(), 18u);
    const uint32_t headerSize = uint8_t(file[14]) | uint8_t(file[15]) << 8;
    const std::string stem = e.name.substr(0, e.name.size() - 4);
    if (headerSize == 12 || headerSize == 40) {
      expectMatchesReference(shared + "/bmp/g/" + e.name, shared + "/bmp/expected/g-" + stem + ".ppm");
      ++compared;
    } else {
      EXPECT_FALSE(decode(file).ok) << e.name << ": a long header gives no pixels";
    }
  }
  EXPECT_EQ(compared, 25);
}

TEST(Bitmap, BrokenAndQuestionableFilesNeverCrash) {
  const std::string shared = testenv::sharedDataDir();
  if (shared.empty())
    LM_SKIP_UNLESS_REQUIRED(testenv::Need::sharedData, "the shared BMP suite is not beside the checkout");
  for (const char* folder : {"/bmp/b/", "/bmp/q/"}) {
    std::vector<platform::DirEntry> entries;
    ASSERT_TRUE(platform::listDirectory(shared + folder, "*.bmp", entries));
    for (const auto& e : entries) {
      Decoded d = decode(testenv::readFile(shared + folder + e.name));
      if (d.ok) {
        EXPECT_EQ(d.pixels.size(), size_t(d.width) * size_t(d.height) * 3) << e.name;
      }
    }
  }
  // Those whose headers lie about their sizes give nothing.
  for (const char* name : {"shortfile", "badpalettesize", "reallybig", "badwidth", "rletopdown", "badbitcount"})
    EXPECT_FALSE(decode(testenv::readFile(shared + "/bmp/b/" + name + ".bmp")).ok) << name;
}

TEST(Bitmap, EveryPrefixOfAFileIsSafe) {
  const std::string dir = testenv::dataDir() + "/source/bmp/";
  for (const char* name : {"pal4rle", "pal8os2", "rgb16-565"}) {
    const std::string file = testenv::readFile(dir + name + ".bmp");
    for (size_t n = 0; n < file.size(); n += (n < 1200 ? 1 : 97)) {
      Decoded d = decode(file.substr(0, n));
      // A direct-colour or palette picture needs all its rows; run-length
      // data may end early.
      if (std::string(name) != "pal4rle") {
        EXPECT_FALSE(d.ok) << name << " cut at " << n;
      }
    }
  }
}

TEST(Bitmap, OneBitWithTwoColoursGivesRgbAndBits8) {
  Bmp b;
  b.width = 3;
  b.height = 2;
  b.depth = 1;
  b.table = std::string("\x10\x20\x30\x00\xF0\xE0\xD0\x00", 8);
  // bottom row 1,0,1; top row 0,1,1 (rows padded to 4 bytes)
  b.bits = std::string("\xA0\0\0\0\x60\0\0\0", 8);
  Decoded d = decode(b.bytes());
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.bits, 8);
  EXPECT_EQ(d.pixels, rgb({0x30, 0x20, 0x10, 0xD0, 0xE0, 0xF0, 0xD0, 0xE0, 0xF0,  //
                           0xD0, 0xE0, 0xF0, 0x30, 0x20, 0x10, 0xD0, 0xE0, 0xF0}));
}

TEST(Bitmap, DirectColourLayouts) {
  struct Case {
    const char* what;
    Bmp bmp;
    PixelBuffer expected;
    int bits;
  };
  Bmp b555;
  b555.width = 2;
  b555.depth = 16;
  b555.bits = std::string("\x1F\x00\xE0\x7F", 4);  // blue 31; red 31 + green 31
  Bmp b565 = b555;
  b565.compression = 3;
  b565.masks = {0xF800, 0x07E0, 0x001F};
  b565.bits = std::string("\x20\x00\x00\xF8", 4);  // green 1; red 31
  Bmp b24;
  b24.width = 1;
  b24.height = 2;
  b24.bits = std::string("\x01\x02\x03\0\x04\x05\x06\0", 8);  // bottom, top
  Bmp b32;
  b32.width = 1;
  b32.depth = 32;
  b32.bits = std::string("\x01\x02\x03\xFF", 4);
  Bmp b24pal = b24;
  b24pal.used = 1;
  b24pal.table = std::string("\x09\x09\x09\x00", 4);
  const Case cases[] = {
      {"16-bit 5-5-5", b555, rgb({0, 0, 255, 255, 255, 0}), 0},
      {"16-bit 5-6-5 bit fields", b565, rgb({0, 4, 0, 255, 0, 0}), 0},
      {"24-bit bottom-up", b24, rgb({6, 5, 4, 3, 2, 1}), 0},
      {"32-bit", b32, rgb({3, 2, 1}), 0},
      {"24-bit with a colour table reports 8", b24pal, rgb({6, 5, 4, 3, 2, 1}), 8},
  };
  for (const Case& c : cases) {
    Decoded d = decode(c.bmp.bytes());
    ASSERT_TRUE(d.ok) << c.what;
    EXPECT_EQ(d.pixels, c.expected) << c.what;
    EXPECT_EQ(d.bits, c.bits) << c.what;
  }
}

TEST(Bitmap, TopDownRowsComeInTheirOrder) {
  Bmp b;
  b.width = 1;
  b.height = -2;
  b.bits = std::string("\x01\x02\x03\0\x04\x05\x06\0", 8);  // top, bottom
  Decoded d = decode(b.bytes());
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.height, 2);
  EXPECT_EQ(d.pixels, rgb({3, 2, 1, 6, 5, 4}));
  // run-length bitmaps can't be stored top-down
  Bmp r;
  r.width = 2;
  r.height = -1;
  r.depth = 8;
  r.compression = 1;
  r.bits = std::string("\x02\x00\x00\x01", 4);
  EXPECT_FALSE(decode(r.bytes()).ok);
}

TEST(Bitmap, BareDibAndCoreHeader) {
  Bmp b;
  b.fileHeader = false;
  b.width = 2;
  b.depth = 8;
  b.used = 2;
  b.table = std::string("\x00\x00\xFF\x00\x00\xFF\x00\x00", 8);
  b.bits = std::string("\x01\x00\x00\x00", 4);
  Decoded d = decode(b.bytes());
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.pixels, rgb({0, 255, 0, 255, 0, 0}));
  Bmp core;
  core.headerSize = 12;
  core.width = 2;
  core.depth = 4;
  core.table = std::string(16 * 3, '\0');
  core.table[3 * 5 + 0] = 7;  // entry 5: blue 7
  core.table[3 * 5 + 2] = 9;  // red 9
  core.bits = std::string("\x50\x00\x00\x00", 4);
  d = decode(core.bytes());
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.bits, 8);
  EXPECT_EQ(d.pixels, rgb({9, 0, 7, 0, 0, 0}));
}

TEST(Bitmap, RunLengthData) {
  std::string table;
  for (int i = 0; i < 16; ++i) table += std::string{char(i), char(i), char(i), 0};  // grey i
  Bmp r8;
  r8.width = 4;
  r8.height = 3;
  r8.depth = 8;
  r8.compression = 1;
  r8.used = 16;
  r8.table = table;
  // row 0: run of 2 x 5, absolute 3 values (1, 2, 3; padded) clipped to
  // width, end of line; delta (1, 1) to row 2, x 1; run 1 x 9; row 1 stays
  // black.  No image size in the header: the data runs to the file's end.
  r8.bits = std::string("\x02\x05\x00\x03\x01\x02\x03\x00\x00\x00\x00\x02\x01\x01\x01\x09\x00\x01", 18);
  Decoded d = decode(r8.bytes());
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.pixels, rgb({0, 0, 0, 9, 9, 9, 0, 0, 0, 0, 0, 0,  //
                           0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  //
                           5, 5, 5, 5, 5, 5, 1, 1, 1, 2, 2, 2}));

  Bmp r4 = r8;
  r4.depth = 4;
  r4.compression = 2;
  r4.height = 1;
  // run of 3 alternating 1 and 2, absolute 3 nibbles (7, 10, 0; two bytes)
  // clipped to the width
  r4.bits = std::string("\x03\x12\x00\x03\x7A\x00\x00\x01", 8);
  d = decode(r4.bytes());
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.pixels, rgb({1, 1, 1, 2, 2, 2, 1, 1, 1, 7, 7, 7}));
}

TEST(Bitmap, SizesThatGiveNoPixels) {
  struct Case {
    const char* what;
    int32_t width, height;
    size_t bitsBytes;
  };
  const Case cases[] = {
      {"zero width", 0, 1, 16},
      {"zero height", 1, 0, 16},
      {"negative width", -1, 1, 16},
      {"most negative height", 1, INT_MIN, 16},
      {"too wide", 32769, 1, 32769 * 3 + 4},
      {"too tall", 1, 32769, 32769 * 4},
      {"too tall top-down", 1, -32769, 32769 * 4},
      {"pixel area short by one byte", 5, 3, 16 * 3 - 1},
      {"width overflowing a 32-bit size", 0x40000000, 4, 64},
  };
  for (const Case& c : cases) {
    Bmp b;
    b.width = c.width;
    b.height = c.height;
    b.bits = std::string(c.bitsBytes, '\x7F');
    EXPECT_FALSE(decode(b.bytes()).ok) << c.what;
  }
  // A few bytes of run-length data can't claim a gigabyte of pixels.
  Bmp huge;
  huge.width = 32768;
  huge.height = 32768;
  huge.depth = 8;
  huge.compression = 1;
  huge.used = 1;
  huge.table = std::string(4, '\0');
  huge.bits = std::string("\x00\x01", 2);
  EXPECT_FALSE(decode(huge.bytes()).ok) << "more pixels than any picture may have";
  huge.width = 8;
  huge.height = 8;
  EXPECT_TRUE(decode(huge.bytes()).ok);

  Bmp fits;
  fits.width = 5;
  fits.height = 3;
  fits.bits = std::string(16 * 3, '\x7F');
  EXPECT_TRUE(decode(fits.bytes()).ok);

  Bmp shortTable;
  shortTable.depth = 8;
  shortTable.used = 200;
  shortTable.table = std::string(199 * 4, '\0');
  shortTable.fileHeader = false;
  EXPECT_FALSE(decode(shortTable.bytes()).ok) << "colour table cut short";
  Bmp other;
  other.headerSize = 108;
  other.bits = std::string(4, '\0');
  EXPECT_FALSE(decode(other.bytes()).ok) << "108-byte header";
}

class LoadImageTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testenv::freshDir("pictures"); }
  std::string dir_;
};

TEST_F(LoadImageTest, ExtensionsAndFallbacks) {
  Bmp oneBit;
  oneBit.width = 2;
  oneBit.depth = 1;
  oneBit.table = std::string("\0\0\0\0\xFF\xFF\xFF\0", 8);
  oneBit.bits = std::string("\x40\0\0\0", 4);
  testenv::writeFile(dir_ + "/a.BMP", oneBit.bytes());
  const std::string jpeg = makeJpeg(2, 1, 3, {255, 0, 0, 255, 0, 0});
  testenv::writeFile(dir_ + "/a.jpg", jpeg);
  Bmp v4 = oneBit;
  v4.headerSize = 108;
  testenv::writeFile(dir_ + "/long.bmp", v4.bytes());
  testenv::writeFile(dir_ + "/long.jpg", makeJpeg(4, 4, 3, std::vector<uint8_t>(48, 128)));
  testenv::writeFile(dir_ + "/photo.tga", "not a targa");
  testenv::writeFile(dir_ + "/photo.jpg", makeJpeg(5, 2, 3, std::vector<uint8_t>(30, 60)));

  PixelBuffer px;
  int w = 0, h = 0, bits = 0;
  ASSERT_EQ(loadImage(dir_ + "/a.BMP", px, w, h, &bits), 0);
  EXPECT_EQ(bits, 8) << "a.BMP is a bitmap";
  EXPECT_EQ(px, rgb({0, 0, 0, 255, 255, 255}));

  bits = 0;
  ASSERT_EQ(loadImage(dir_ + "/a.png", px, w, h, &bits), 0);
  EXPECT_EQ(bits, 0) << "a.png reads a.jpg";
  EXPECT_EQ(w, 2);
  EXPECT_GT(px[0], 200);
  EXPECT_LT(px[2], 60);

  ASSERT_EQ(loadImage(dir_ + "/long.bmp", px, w, h, &bits), 0);
  EXPECT_EQ(w, 4) << "a long header falls back to .jpg";
  ASSERT_EQ(loadImage(dir_ + "/missing.bmp", px, w, h, nullptr), -1);
  EXPECT_TRUE(px.empty());

  bits = 0;
  ASSERT_EQ(loadImage(dir_ + "/photo.tga", px, w, h, &bits), 0);
  EXPECT_EQ(bits, 32) << "set for a TGA whatever happens";
  EXPECT_EQ(w, 5) << "an unreadable TGA falls back to .jpg";
}

TEST_F(LoadImageTest, DotInADirectoryNameOnly) {
  ASSERT_TRUE(platform::makeDirectories(dir_ + "/my.pics"));
  testenv::writeFile(dir_ + "/my.pics/photo", makeJpeg(3, 3, 3, std::vector<uint8_t>(27, 10)));
  testenv::writeFile(dir_ + "/my.jpg", makeJpeg(7, 7, 3, std::vector<uint8_t>(147, 10)));
  PixelBuffer px;
  int w = 0, h = 0;
  ASSERT_EQ(loadImage(dir_ + "/my.pics/photo", px, w, h), 0);
  EXPECT_EQ(w, 3) << "the named file, read as JPEG, not a neighbour";
}

TEST_F(LoadImageTest, Tga) {
  std::string tga(18, '\0');
  tga[2] = 2;
  tga[12] = 2;
  tga[14] = 2;
  tga[16] = 32;
  const std::string pixels = "0123456789abcdef";
  testenv::writeFile(dir_ + "/t.TGA", tga + pixels);
  PixelBuffer px;
  int w = 0, h = 0, bits = 0;
  ASSERT_EQ(loadImage(dir_ + "/t.TGA", px, w, h, &bits), 0);
  EXPECT_EQ(std::string(px.begin(), px.end()), pixels);
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(bits, 32);

  struct Case {
    const char* what;
    int at;
    char value;
    size_t keep;
  };
  const Case bad[] = {
      {"24-bit", 16, 24, 34},
      {"run-length", 2, 10, 34},
      {"one pixel byte short", 2, 2, 33},
      {"zero width", 12, 0, 34},
  };
  for (const Case& c : bad) {
    std::string t = tga + pixels;
    t[size_t(c.at)] = c.value;
    std::vector<uint8_t> exact(t.begin(), t.begin() + long(c.keep));
    EXPECT_FALSE(decodeTga(exact.data(), exact.size(), px, w, h)) << c.what;
  }
  std::string withId = tga + "ID!" + pixels;
  withId[0] = 3;
  ASSERT_TRUE(decodeTga(reinterpret_cast<const uint8_t*>(withId.data()), withId.size(), px, w, h));
  EXPECT_EQ(std::string(px.begin(), px.end()), pixels) << "the image-ID field is skipped";
}

TEST_F(LoadImageTest, GreyJpegIsWidened) {
  testenv::writeFile(dir_ + "/grey.jpg", makeJpeg(3, 1, 1, {0, 128, 255}));
  PixelBuffer px;
  int w = 0, h = 0, bits = 0;
  ASSERT_EQ(loadImage(dir_ + "/grey.jpg", px, w, h, &bits), 0);
  EXPECT_EQ(bits, 0);
  ASSERT_EQ(px.size(), 9u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(px[3 * i], px[3 * i + 1]);
    EXPECT_EQ(px[3 * i], px[3 * i + 2]);
  }
  EXPECT_LT(px[0], 10);
  EXPECT_NEAR(px[3], 128, 10);
  EXPECT_GT(px[6], 245);
}

TEST_F(LoadImageTest, JpegLargerThanOnePieceAndDamaged) {
  // Bigger than the 4096-byte pieces the data is fed in.
  std::vector<uint8_t> noise(96 * 64 * 3);
  uint32_t s = 1;
  for (auto& v : noise) v = uint8_t((s = s * 1103515245 + 12345) >> 24);
  const std::string jpeg = makeJpeg(96, 64, 3, noise);
  ASSERT_GT(jpeg.size(), 3 * 4096u);
  PixelBuffer px, reference;
  int w = 0, h = 0;
  ASSERT_TRUE(decodeJpeg(reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size(), px, w, h));
  EXPECT_EQ(w, 96);
  EXPECT_EQ(h, 64);
  {
    // libjpeg's own memory source on the same bytes
    jpeg_decompress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    jpeg_mem_src(&c, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size());
    jpeg_read_header(&c, TRUE);
    jpeg_start_decompress(&c);
    reference.resize(96 * 64 * 3);
    while (c.output_scanline < c.output_height) {
      JSAMPROW row = reference.data() + c.output_scanline * 96 * 3;
      jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
  }
  EXPECT_EQ(px, reference);

  // A header that claims 60000 x 60000 pixels over a few bytes of data.
  std::string claims = makeJpeg(8, 8, 3, std::vector<uint8_t>(192, 90));
  const size_t sof = claims.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  claims[sof + 5] = claims[sof + 7] = char(0xEA);
  claims[sof + 6] = claims[sof + 8] = char(0x60);
  EXPECT_FALSE(decodeJpeg(reinterpret_cast<const uint8_t*>(claims.data()), claims.size(), px, w, h));

  testenv::writeFile(dir_ + "/corrupt.jpg", std::string("\xFF\xD8\xFF\xE0 this is not a picture", 26));
  testenv::writeFile(dir_ + "/text.jpg", "plain text");
  testenv::writeFile(dir_ + "/empty.jpg", "");
  for (const char* name : {"/corrupt.jpg", "/text.jpg", "/empty.jpg"}) {
    EXPECT_EQ(loadImage(dir_ + name, px, w, h), -1) << name;
    EXPECT_TRUE(px.empty());
  }
  // Cut short: the fake end-of-image marker ends it; whatever comes is whole.
  for (size_t n : {size_t(50), jpeg.size() / 2, jpeg.size() - 1}) {
    std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + long(n));
    if (decodeJpeg(cut.data(), cut.size(), px, w, h)) {
      EXPECT_EQ(px.size(), size_t(w) * size_t(h) * 3);
    }
  }
}

}  // namespace

namespace {

struct PeakLoad {
  bool pixels = false;  // the load gave pixels
  long peakGrowthKiB = -1;
};

// Loads `path` in a child process and reports how far its peak resident
// memory grew over what it was before the load.
PeakLoad loadInChild(const std::string& path) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    PixelBuffer px;
    int w = 0, h = 0;
    const bool ok = loadImage(path, px, w, h) == 0;
    getrusage(RUSAGE_SELF, &after);
    const long result[2] = {ok ? 1 : 0, after.ru_maxrss - before.ru_maxrss};
    _exit(write(fds[1], result, sizeof result) == sizeof result ? 0 : 1);
  }
  close(fds[1]);
  long result[2] = {0, -1};
  const bool got = read(fds[0], result, sizeof result) == sizeof result;
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return PeakLoad{result[0] != 0, result[1]};
}

}  // namespace

TEST_F(LoadImageTest, HugeClaimsAreRefusedBeforeTheirMemoryIsTaken) {
  // A progressive picture of 8 x 8 whose header says 16384 x 16384: a few
  // hundred bytes that would have libjpeg keep every coefficient of the
  // claimed picture.
  std::string claim = makeJpeg(8, 8, 3, std::vector<uint8_t>(192, 90), 90, true);
  const size_t sof = claim.find("\xFF\xC2");
  ASSERT_NE(sof, std::string::npos);
  claim[sof + 5] = claim[sof + 7] = char(0x40);
  claim[sof + 6] = claim[sof + 8] = char(0x00);
  ASSERT_LT(claim.size(), 1024u);
  ASSERT_TRUE(testenv::writeFile(dir_ + "/claim.jpg", claim));

  // A run-length bitmap of 16384 x 16384 (within the pixel limit) in 122
  // bytes: 30 runs of 255 pixels, then nothing.
  Bmp rle;
  rle.width = rle.height = 16384;
  rle.depth = 8;
  rle.compression = 1;
  rle.used = 2;
  rle.table = std::string(8, '\0');
  for (int i = 0; i < 30; ++i) rle.bits += std::string("\xFF\x01", 2);
  // (Its ".jpg" fallback holds no picture either.)
  ASSERT_TRUE(testenv::writeFile(dir_ + "/none.bmp", rle.bytes()));
  ASSERT_TRUE(testenv::writeFile(dir_ + "/none.jpg", "no picture"));

  // A real progressive picture of 3 megapixels still loads.
  std::vector<uint8_t> smooth(size_t(2000) * 1500 * 3);
  for (size_t i = 0; i < smooth.size(); ++i) smooth[i] = uint8_t((i / 3) % 2000 / 8);
  ASSERT_TRUE(testenv::writeFile(dir_ + "/real.jpg", makeJpeg(2000, 1500, 3, smooth, 90, true)));

  struct Case {
    const char* name;
    bool pixels;
  } cases[] = {{"/claim.jpg", false}, {"/none.bmp", false}, {"/real.jpg", true}};
  for (const Case& c : cases) {
    const PeakLoad load = loadInChild(dir_ + c.name);
    ASSERT_GE(load.peakGrowthKiB, 0) << c.name;
    EXPECT_EQ(load.pixels, c.pixels) << c.name;
    EXPECT_LE(uint64_t(load.peakGrowthKiB) * 1024, kMaxImageMemory) << c.name;
    std::printf("%s: peak memory grew by %ld MiB\n", c.name, load.peakGrowthKiB / 1024);
  }
}
