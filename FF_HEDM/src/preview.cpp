#include "preview.hpp"

#include <algorithm>
#include <cmath>
#include <new>

#include "output_file.hpp"

#ifdef HEDM_HAVE_PNG
#include <png.h>
#endif

namespace hedm {

pixelvalue percentile_value(const pixelvalue* pixels, std::size_t n, double percent) {
  if (n == 0) return 0;
  std::vector<std::uint64_t> histogram(65536);
  for (std::size_t k = 0; k < n; ++k) ++histogram[pixels[k]];
  const double clamped = std::clamp(percent, 0.0, 100.0);
  const auto rank = static_cast<std::uint64_t>(std::ceil(clamped / 100.0 * static_cast<double>(n)));
  std::uint64_t seen = 0;
  for (std::size_t v = 0; v < histogram.size(); ++v) {
    seen += histogram[v];
    if (seen >= std::max<std::uint64_t>(rank, 1)) return static_cast<pixelvalue>(v);
  }
  return 65535;
}

namespace {

template <class T>
Image<std::uint8_t> view8_of(const Image<T>& values, T lo, T hi, bool log) {
  Image<std::uint8_t> out{values.width, values.height, std::vector<std::uint8_t>(values.pixels.size())};
  const double span = hi > lo ? static_cast<double>(hi - lo) : 1.0;
  const double logSpan = std::log1p(span);
  for (std::size_t k = 0; k < values.pixels.size(); ++k) {
    const double above = std::max(static_cast<double>(values.pixels[k]) - lo, 0.0);
    const double t = log ? std::log1p(above) / logSpan : above / span;
    out.pixels[k] = static_cast<std::uint8_t>(std::lround(std::clamp(t, 0.0, 1.0) * 255.0));
  }
  return out;
}

}  // namespace

Image<std::uint8_t> view8(const Image<pixelvalue>& values, pixelvalue lo, pixelvalue hi, bool log) {
  return view8_of(values, lo, hi, log);
}
Image<std::uint8_t> view8(const Image<std::uint32_t>& values, std::uint32_t lo, std::uint32_t hi, bool log) {
  return view8_of(values, lo, hi, log);
}

std::uint32_t percentile_value(const std::uint32_t* pixels, std::size_t n, double percent) {
  if (n == 0) return 0;
  // Too many values for a histogram: the pixel of that rank, selected.
  std::vector<std::uint32_t> values(pixels, pixels + n);
  const double clamped = std::clamp(percent, 0.0, 100.0);
  const auto rank = static_cast<std::uint64_t>(std::ceil(clamped / 100.0 * static_cast<double>(n)));
  const std::size_t at = static_cast<std::size_t>(std::min<std::uint64_t>(std::max<std::uint64_t>(rank, 1), n) - 1);
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at), values.end());
  return values[at];
}

std::uint64_t mark_masked(const std::uint32_t* frame, std::size_t n, std::uint32_t mark,
                          std::vector<std::uint8_t>* masked) {
  if (masked->empty()) masked->assign(n, 0);
  std::uint64_t count = 0;
  for (std::size_t k = 0; k < n; ++k) {
    if (frame[k] == mark) (*masked)[k] = 1;
    count += (*masked)[k] != 0;
  }
  return count;
}

namespace {
std::string pgm_header(std::size_t w, std::size_t h, int maxval) {
  return "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n" + std::to_string(maxval) + "\n";
}
}  // namespace

std::string pgm(const Image<std::uint8_t>& image) {
  std::string s = pgm_header(image.width, image.height, 255);
  s.append(image.pixels.begin(), image.pixels.end());
  return s;
}

std::string pgm(const Image<pixelvalue>& image) {
  std::string s = pgm_header(image.width, image.height, 65535);
  const std::size_t at = s.size();
  s.resize(at + image.pixels.size() * 2);
  for (std::size_t k = 0; k < image.pixels.size(); ++k) {
    s[at + 2 * k] = static_cast<char>(image.pixels[k] >> 8);
    s[at + 2 * k + 1] = static_cast<char>(image.pixels[k] & 0xff);
  }
  return s;
}

Status write_images(const std::vector<std::pair<std::string, Result<std::string>>>& images) {
  for (const auto& [path, bytes] : images)
    if (!bytes) return bytes.error();
  for (const auto& [path, bytes] : images) {
    OutputFile out;
    Status s = out.create(path);
    if (s) s = out.write(bytes->data(), bytes->size());
    if (s) s = out.commit();
    if (!s) return s;
  }
  return ok();
}

#ifdef HEDM_HAVE_PNG
namespace {

// Where the encoded bytes go, and the encoder's word when it fails.
struct Sink {
  std::string bytes;
  std::string failure;
};

void append(png_structp png, png_bytep data, png_size_t n) {
  Sink* sink = static_cast<Sink*>(png_get_io_ptr(png));
  bool full = false;
  try {
    sink->bytes.append(reinterpret_cast<const char*>(data), n);
  } catch (const std::bad_alloc&) {  // no exception may cross libpng's C frames
    full = true;
  }
  if (full) png_error(png, "out of memory for the encoded image");
}
void flush_nothing(png_structp) {}
[[noreturn]] void on_error(png_structp png, png_const_charp message) {
  static_cast<Sink*>(png_get_error_ptr(png))->failure = message;
  png_longjmp(png, 1);
}
void on_warning(png_structp, png_const_charp) {}

// libpng reports failures by longjmp, so everything that lives across the
// setjmp is plain data; the encoded bytes go to sink->bytes.
bool encode(const void* rows, std::size_t w, std::size_t h, int depth, Sink* sink) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, sink, on_error, on_warning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  png_set_write_fn(png, sink, append, flush_nothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), depth, PNG_COLOR_TYPE_GRAY,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 3);  // most of the size gain at a fraction of the time
  png_write_info(png, info);
  if (depth == 16) png_set_swap(png);  // our samples are little-endian, PNG's big-endian
  const std::size_t rowBytes = w * static_cast<std::size_t>(depth / 8);
  for (std::size_t y = 0; y < h; ++y)
    png_write_row(png, static_cast<png_const_bytep>(rows) + y * rowBytes);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

Result<std::string> encoded(const void* rows, std::size_t w, std::size_t h, int depth) {
  Sink sink;
  if (!encode(rows, w, h, depth, &sink))
    return output_error("The PNG encoder failed: " + (sink.failure.empty() ? std::string("no memory") : sink.failure) +
                        ".");
  return std::move(sink.bytes);
}

}  // namespace

bool png_available() { return true; }

Result<std::string> png(const Image<std::uint8_t>& image) {
  return encoded(image.pixels.data(), image.width, image.height, 8);
}

Result<std::string> png(const Image<pixelvalue>& image) {
  return encoded(image.pixels.data(), image.width, image.height, 16);
}
#else
bool png_available() { return false; }
namespace {
Error no_png() { return output_error("This build writes no PNG (libpng was missing when it was built)."); }
}  // namespace
Result<std::string> png(const Image<std::uint8_t>&) { return no_png(); }
Result<std::string> png(const Image<pixelvalue>&) { return no_png(); }
#endif

}  // namespace hedm
