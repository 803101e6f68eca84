// Test tool: saves the whole screen of the X server named by DISPLAY as a PNG, so tests can show a
// person what the program looked like on a real display.  x_screenshot <file.png>
#include <xcb/xcb.h>

#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: x_screenshot <file.png>\n");
    return 2;
  }
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(connection) != 0) {
    std::fprintf(stderr, "x_screenshot: cannot connect to the X server\n");
    return 1;
  }
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&it);
  const xcb_screen_t* screen = it.data;
  const auto width = screen->width_in_pixels;
  const auto height = screen->height_in_pixels;
  xcb_get_image_reply_t* reply = xcb_get_image_reply(
      connection, xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, 0, 0, width, height, ~0u),
      nullptr);
  if (reply == nullptr || reply->depth < 24) {
    std::fprintf(stderr, "x_screenshot: cannot read the screen (24-bit screens only)\n");
    xcb_disconnect(connection);
    return 1;
  }
  // 24-bit Z pixmaps come as 32 bits per pixel, blue first: QImage's RGB32 in memory order.
  const QImage image(xcb_get_image_data(reply), width, height, width * 4, QImage::Format_RGB32);
  const bool saved = image.copy().save(QString::fromLocal8Bit(argv[1]), "PNG");
  std::free(reply);
  xcb_disconnect(connection);
  return saved ? 0 : 1;
}
