// The root window of the X server's default screen: its size, pixels and
// copies of areas. A copy goes through a shared-memory segment (MIT-SHM)
// when the server offers one and can attach it (a server on this machine),
// else through XGetImage; the "slow" way is always XGetImage. Pixels of
// 15 to 32 bits in either byte order are read through the visual's masks;
// palette displays (8 bits or fewer) are not read.
#include "platform/posix/x11_screen.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <mutex>

#include "platform/posix/x11_desktop.h"
#include "platform/posix/x11_display.h"

namespace platform::x11 {
namespace {

// One channel of a pixel, scaled to 0..255.
struct Channel {
  unsigned long mask = 0;
  int shift = 0, bits = 0;
  explicit Channel(unsigned long m) : mask(m), shift(m ? std::countr_zero(m) : 0), bits(std::popcount(m)) {}
  int Of(unsigned long pixel) const {
    if (bits == 0) return 0;
    const unsigned long v = (pixel & mask) >> shift;
    if (bits >= 8) return static_cast<int>(v >> (bits - 8));
    return static_cast<int>(v * 255 / ((1ul << bits) - 1));  // 5 bits 11111 give 255
  }
};

// Converts the rows of a ZPixmap image into colours at `out` (stride
// `out_width`); false for a format it cannot read.
bool Convert(const XImage& image, Colour* out, int out_width) {
  const int bpp = image.bits_per_pixel;
  if (image.depth <= 8 || (bpp != 16 && bpp != 24 && bpp != 32)) return false;
  const bool host_lsb = std::endian::native == std::endian::little;
  const bool lsb = image.byte_order == LSBFirst;
  const auto* data = reinterpret_cast<const unsigned char*>(image.data);
  if (bpp == 32 && lsb == host_lsb && image.red_mask == 0xFF0000 && image.green_mask == 0xFF00 &&
      image.blue_mask == 0xFF) {
    // The common case: 0x00RRGGBB in the host's order.
    for (int y = 0; y < image.height; ++y) {
      const unsigned char* row = data + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.bytes_per_line);
      Colour* line = out + static_cast<std::size_t>(y) * static_cast<std::size_t>(out_width);
      for (int x = 0; x < image.width; ++x) {
        std::uint32_t p;
        std::memcpy(&p, row + x * 4, 4);
        line[x] = (p >> 16 & 0xFF) | (p & 0xFF00) | (p & 0xFF) << 16;
      }
    }
    return true;
  }
  const Channel red(image.red_mask), green(image.green_mask), blue(image.blue_mask);
  const int bytes = bpp / 8;
  for (int y = 0; y < image.height; ++y) {
    const unsigned char* row = data + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.bytes_per_line);
    Colour* line = out + static_cast<std::size_t>(y) * static_cast<std::size_t>(out_width);
    for (int x = 0; x < image.width; ++x) {
      const unsigned char* p = row + x * bytes;
      unsigned long pixel = 0;
      for (int i = 0; i < bytes; ++i) pixel |= static_cast<unsigned long>(p[lsb ? i : bytes - 1 - i]) << (8 * i);
      line[x] = MakeColour(red.Of(pixel), green.Of(pixel), blue.Of(pixel));
    }
  }
  return true;
}

class X11Screen : public Screen {
 public:
  explicit X11Screen(Display* display) : display_(display) {}

  std::optional<Colour> PixelAt(int x, int y) override {
    Pixels one;
    const ScreenArea root = RootArea();
    if (x < 0 || y < 0 || x >= root.width || y >= root.height || !Capture({x, y, 1, 1}, true, one)) return std::nullopt;
    return one.colours[0];
  }

  ScreenInfo Info() override {
    ScreenInfo info;
    const ScreenArea root = RootArea();
    info.width = root.width;
    info.height = root.height;
    info.monitors = 1;
    const int depth = DefaultDepth(display_, DefaultScreen(display_));
    info.bits_per_pixel = depth;
    int count = 0;
    if (XPixmapFormatValues* formats = XListPixmapFormats(display_, &count)) {
      for (int i = 0; i < count; ++i)
        if (formats[i].depth == depth) info.bits_per_pixel = formats[i].bits_per_pixel;
      XFree(formats);
    }
    return info;
  }

  ScreenArea SearchArea() override { return RootArea(); }

  bool Capture(const ScreenArea& area, bool slow, Pixels& out) override {
    if (area.width <= 0 || area.height <= 0) return false;
    out.width = area.width;
    out.height = area.height;
    out.colours.assign(static_cast<std::size_t>(area.width) * static_cast<std::size_t>(area.height), 0);
    // Only the part on the screen is read; the rest stays black.
    const ScreenArea root = RootArea();
    const int left = std::max(area.left, 0), top = std::max(area.top, 0);
    const int right = std::min(area.left + area.width, root.width),
              bottom = std::min(area.top + area.height, root.height);
    if (right <= left || bottom <= top) return true;
    const ScreenArea part{left, top, right - left, bottom - top};
    Colour* at = out.colours.data() + static_cast<std::size_t>(top - area.top) * static_cast<std::size_t>(area.width) +
                 (left - area.left);
    std::lock_guard<std::mutex> lock(mutex_);
    if (!slow && SharedCapture(part, at, area.width)) return true;
    return PlainCapture(part, at, area.width);
  }

 private:
  ScreenArea RootArea() const {
    const int screen = DefaultScreen(display_);
    return {0, 0, DisplayWidth(display_, screen), DisplayHeight(display_, screen)};
  }

  // A request that fails (an area the screen no longer covers) returns
  // nothing: Dpy()'s error handler lets the program go on.
  bool PlainCapture(const ScreenArea& part, Colour* out, int out_width) {
    XImage* image =
        XGetImage(display_, DefaultRootWindow(display_), part.left, part.top, static_cast<unsigned>(part.width),
                  static_cast<unsigned>(part.height), AllPlanes, ZPixmap);
    if (!image) return false;
    const bool done = Convert(*image, out, out_width);
    XDestroyImage(image);
    return done;
  }

  // Through the shared segment, set up at the first use for the whole
  // screen (again when the screen grew); false when the server cannot.
  bool SharedCapture(const ScreenArea& part, Colour* out, int out_width) {
    if (shm_refused_) return false;
    const int screen = DefaultScreen(display_);
    Visual* visual = DefaultVisual(display_, screen);
    const unsigned depth = static_cast<unsigned>(DefaultDepth(display_, screen));
    if (!segment_ready_ || segment_for_ != RootArea().width * RootArea().height) {
      if (!AttachSegment(visual, depth)) {
        shm_refused_ = true;
        return false;
      }
    }
    XImage* image = XShmCreateImage(display_, visual, depth, ZPixmap, segment_.shmaddr, &segment_,
                                    static_cast<unsigned>(part.width), static_cast<unsigned>(part.height));
    if (!image) return false;
    bool done =
        static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(part.height) <= segment_size_ &&
        XShmGetImage(display_, DefaultRootWindow(display_), image, part.left, part.top, AllPlanes) &&
        Convert(*image, out, out_width);
    image->data = nullptr;  // the segment stays
    XDestroyImage(image);
    return done;
  }

  bool AttachSegment(Visual* visual, unsigned depth) {
    DetachSegment();
    if (!XShmQueryExtension(display_)) return false;
    const ScreenArea root = RootArea();
    XShmSegmentInfo probe{};
    XImage* image = XShmCreateImage(display_, visual, depth, ZPixmap, nullptr, &probe,
                                    static_cast<unsigned>(root.width), static_cast<unsigned>(root.height));
    if (!image) return false;
    segment_size_ = static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(root.height);
    XDestroyImage(image);
    segment_ = {};
    segment_.shmid = shmget(IPC_PRIVATE, segment_size_, IPC_CREAT | 0600);
    if (segment_.shmid < 0) return false;
    void* address = shmat(segment_.shmid, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
      shmctl(segment_.shmid, IPC_RMID, nullptr);
      return false;
    }
    segment_.shmaddr = static_cast<char*>(address);
    segment_.readOnly = False;
    // A server on another machine refuses the segment (BadAccess): then the
    // first copy through it fails.
    bool attached = XShmAttach(display_, &segment_);
    XSync(display_, False);
    // Marked for removal now: it goes when both sides let go, even at a crash.
    shmctl(segment_.shmid, IPC_RMID, nullptr);
    if (attached) {
      XImage* probe_image = XShmCreateImage(display_, visual, depth, ZPixmap, segment_.shmaddr, &segment_, 1, 1);
      attached = probe_image && XShmGetImage(display_, DefaultRootWindow(display_), probe_image, 0, 0, AllPlanes);
      if (probe_image) {
        probe_image->data = nullptr;
        XDestroyImage(probe_image);
      }
    }
    if (!attached) {
      shmdt(segment_.shmaddr);
      segment_ = {};
      return false;
    }
    segment_ready_ = true;
    segment_for_ = root.width * root.height;
    return true;
  }

  void DetachSegment() {
    if (!segment_ready_) return;
    XShmDetach(display_, &segment_);
    XSync(display_, False);
    shmdt(segment_.shmaddr);
    segment_ = {};
    segment_ready_ = false;
  }

  Display* const display_;
  std::mutex mutex_;
  XShmSegmentInfo segment_{};
  std::size_t segment_size_ = 0;
  int segment_for_ = 0;
  bool segment_ready_ = false, shm_refused_ = false;
};

}  // namespace

Screen* DesktopScreen() {
  static X11Screen* const screen = Connection() ? new X11Screen(Dpy()) : nullptr;
  return screen;
}

}  // namespace platform::x11
