// A detector frame as an image a person can look at: an 8-bit view
// stretched between two percentiles of the values (linearly or on a log
// scale), optionally binned, as PNG or PGM; and the raw 16-bit values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "error.hpp"
#include "frame_file.hpp"

namespace hedm {

// The value below which `percent` of the pixels lie (nearest rank, 0 to 100),
// for 16-bit pixels and for the 32-bit pixels of photon-counting detectors.
pixelvalue percentile_value(const pixelvalue* pixels, std::size_t n, double percent);
std::uint32_t percentile_value(const std::uint32_t* pixels, std::size_t n, double percent);

// An image of width x height values, row by row (the frame's flat pixel
// position k is row k / 2048, column k % 2048).
template <class T>
struct Image {
  std::size_t width = 0, height = 0;
  std::vector<T> pixels;
};

// Blocks of factor x factor pixels of a frame of `width` columns and
// `height` rows averaged (rounded to nearest); blocks at the right and
// bottom edges average the pixels they have.  With `masked` (1 where a
// pixel is masked, row by row like the frame), a block averages its
// unmasked pixels alone, and one that has none averages all of them and
// is masked in *binnedMasked.
template <class T>
Image<T> bin_image(const T* frame, std::size_t width, std::size_t height, int factor,
                   const std::uint8_t* masked = nullptr, std::vector<std::uint8_t>* binnedMasked = nullptr) {
  const std::size_t f = static_cast<std::size_t>(factor > 1 ? factor : 1);
  Image<T> out;
  out.width = (width + f - 1) / f;
  out.height = (height + f - 1) / f;
  out.pixels.resize(out.width * out.height);
  if (masked && binnedMasked) binnedMasked->assign(out.pixels.size(), 0);
  for (std::size_t by = 0; by < out.height; ++by)
    for (std::size_t bx = 0; bx < out.width; ++bx) {
      std::uint64_t sum = 0, n = 0, kept = 0, keptSum = 0;
      for (std::size_t y = by * f; y < height && y < by * f + f; ++y)
        for (std::size_t x = bx * f; x < width && x < bx * f + f; ++x, ++n) {
          sum += frame[y * width + x];
          if (masked && !masked[y * width + x]) ++kept, keptSum += frame[y * width + x];
        }
      if (masked && kept > 0) sum = keptSum, n = kept;
      if (masked && binnedMasked && kept == 0) (*binnedMasked)[by * out.width + bx] = 1;
      out.pixels[by * out.width + bx] = static_cast<T>((sum + n / 2) / n);
    }
  return out;
}

// Pixels of a 32-bit frame at `mark`, the detector's mark for a pixel it
// cannot use (the type's largest value), marked in `masked` (made the
// frame's size, unmasked, when it is empty).  Returns the number of pixels
// masked in all.
std::uint64_t mark_masked(const std::uint32_t* frame, std::size_t n, std::uint32_t mark,
                          std::vector<std::uint8_t>* masked);

// The values of an image's unmasked pixels (all of them where `masked` is
// empty), in pixel order: what its percentiles are taken over.
template <class T>
std::vector<T> unmasked_values(const Image<T>& image, const std::vector<std::uint8_t>& masked) {
  if (masked.empty()) return image.pixels;
  std::vector<T> values;
  values.reserve(image.pixels.size());
  for (std::size_t k = 0; k < image.pixels.size(); ++k)
    if (!masked[k]) values.push_back(image.pixels[k]);
  return values;
}
// A square frame of side x side pixels.
inline Image<pixelvalue> bin_image(const pixelvalue* frame, std::size_t side, int factor) {
  return bin_image(frame, side, side, factor);
}

// lo and below black, hi and above white; between them linear, or, with
// `log`, log(1 + v - lo) / log(1 + hi - lo).
Image<std::uint8_t> view8(const Image<pixelvalue>& values, pixelvalue lo, pixelvalue hi, bool log);
Image<std::uint8_t> view8(const Image<std::uint32_t>& values, std::uint32_t lo, std::uint32_t hi, bool log);

// "P5" PGM files: 8-bit samples, or 16-bit big-endian samples.
std::string pgm(const Image<std::uint8_t>& image);
std::string pgm(const Image<pixelvalue>& image);

// Whether this build writes PNG (libpng was found when it was configured).
bool png_available();
// Grey PNG files, 8-bit or 16-bit; an Output error with the encoder's word
// when the image cannot be encoded (or this build writes no PNG).
Result<std::string> png(const Image<std::uint8_t>& image);
Result<std::string> png(const Image<pixelvalue>& image);

// Writes each (path, encoded image) whole or not at all.  Every image is
// encoded before any is written: when one could not be, its error is
// returned and no file is written, so earlier files of those names stay.
Status write_images(const std::vector<std::pair<std::string, Result<std::string>>>& images);

}  // namespace hedm
