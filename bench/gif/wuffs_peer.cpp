// Builds the wuffs peer from WUFFS_PEER_SOURCE, the path CMake gives, with the GIF decoder only.
#define WUFFS_IMPLEMENTATION
#define WUFFS_CONFIG__MODULES
#define WUFFS_CONFIG__MODULE__BASE
#define WUFFS_CONFIG__MODULE__GIF
#define WUFFS_CONFIG__MODULE__LZW
#include WUFFS_PEER_SOURCE

#include <cstdlib>
#include <memory>
#include <vector>

#include "bench/gif/wuffs_peer.h"

namespace bench {

bool WuffsDecodeAll(const std::uint8_t* data, std::size_t size) {
  // Wuffs at its fastest: its internal tables are not zero-filled first.
  std::unique_ptr<wuffs_gif__decoder, decltype(&std::free)> decoder(
      static_cast<wuffs_gif__decoder*>(std::malloc(sizeof__wuffs_gif__decoder())), &std::free);
  if (!decoder ||
      wuffs_gif__decoder__initialize(decoder.get(), sizeof__wuffs_gif__decoder(), WUFFS_VERSION,
                                     WUFFS_INITIALIZE__LEAVE_INTERNAL_BUFFERS_UNINITIALIZED)
          .repr)
    return false;
  wuffs_base__io_buffer source =
      wuffs_base__ptr_u8__reader(const_cast<std::uint8_t*>(data), size, true);
  wuffs_base__image_config config{};
  wuffs_base__status status =
      wuffs_gif__decoder__decode_image_config(decoder.get(), &config, &source);
  if (status.repr) return false;
  const std::uint32_t width = wuffs_base__pixel_config__width(&config.pixcfg);
  const std::uint32_t height = wuffs_base__pixel_config__height(&config.pixcfg);
  // Palette indices, as our decoder gives them.
  wuffs_base__pixel_config__set(&config.pixcfg, WUFFS_BASE__PIXEL_FORMAT__INDEXED__BGRA_BINARY,
                                WUFFS_BASE__PIXEL_SUBSAMPLING__NONE, width, height);
  std::vector<std::uint8_t> pixels(std::size_t{width} * height + 1024);
  wuffs_base__pixel_buffer buffer;
  status = wuffs_base__pixel_buffer__set_from_slice(
      &buffer, &config.pixcfg, wuffs_base__make_slice_u8(pixels.data(), pixels.size()));
  if (status.repr) return false;
  std::vector<std::uint8_t> work(
      static_cast<std::size_t>(wuffs_gif__decoder__workbuf_len(decoder.get()).max_incl));
  for (;;) {
    wuffs_base__frame_config frame{};
    status = wuffs_gif__decoder__decode_frame_config(decoder.get(), &frame, &source);
    if (status.repr == wuffs_base__note__end_of_data) return true;
    if (status.repr) return false;
    status = wuffs_gif__decoder__decode_frame(
        decoder.get(), &buffer, &source, WUFFS_BASE__PIXEL_BLEND__SRC,
        wuffs_base__make_slice_u8(work.data(), work.size()), nullptr);
    if (status.repr) return false;
  }
}

}  // namespace bench
