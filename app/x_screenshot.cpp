// Test tool: saves the screen of the X server named by DISPLAY as a PNG, or only the mapped
// top-level window of the given title, so tests can check pixels of what a real display showed.
//   x_screenshot <file.png> [window title]
// Exit status 0 saved, 1 failed, 3 no mapped window of that title (yet).
#include <xcb/xcb.h>

#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

xcb_atom_t atomNamed(xcb_connection_t* connection, const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
      nullptr);
  xcb_atom_t atom = XCB_ATOM_NONE;
  if (reply != nullptr) atom = reply->atom;
  std::free(reply);
  return atom;
}

std::string textProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property) {
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      connection, xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
      nullptr);
  std::string text;
  if (reply != nullptr) {
    text.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                static_cast<std::size_t>(xcb_get_property_value_length(reply)));
  }
  std::free(reply);
  return text;
}

bool viewable(xcb_connection_t* connection, xcb_window_t window) {
  xcb_get_window_attributes_reply_t* reply =
      xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), nullptr);
  const bool shown = reply != nullptr && reply->map_state == XCB_MAP_STATE_VIEWABLE;
  std::free(reply);
  return shown;
}

// The first mapped child of root whose title is title; XCB_WINDOW_NONE when there is none.
xcb_window_t windowTitled(xcb_connection_t* connection, xcb_window_t root, const std::string& title) {
  const xcb_atom_t netName = atomNamed(connection, "_NET_WM_NAME");
  xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr);
  if (tree == nullptr) return XCB_WINDOW_NONE;
  xcb_window_t found = XCB_WINDOW_NONE;
  const xcb_window_t* children = xcb_query_tree_children(tree);
  for (int i = 0; i < xcb_query_tree_children_length(tree) && found == XCB_WINDOW_NONE; ++i) {
    const bool named =
        (netName != XCB_ATOM_NONE && textProperty(connection, children[i], netName) == title) ||
        textProperty(connection, children[i], XCB_ATOM_WM_NAME) == title;
    if (named && viewable(connection, children[i])) found = children[i];
  }
  std::free(tree);
  return found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: x_screenshot <file.png> [window title]\n");
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
  xcb_drawable_t drawable = screen->root;
  std::uint16_t width = screen->width_in_pixels;
  std::uint16_t height = screen->height_in_pixels;
  if (argc == 3) {
    drawable = windowTitled(connection, screen->root, argv[2]);
    xcb_get_geometry_reply_t* geometry =
        drawable == XCB_WINDOW_NONE
            ? nullptr
            : xcb_get_geometry_reply(connection, xcb_get_geometry(connection, drawable), nullptr);
    if (geometry == nullptr) {
      xcb_disconnect(connection);
      return 3;
    }
    width = geometry->width;
    height = geometry->height;
    std::free(geometry);
  }
  xcb_get_image_reply_t* reply = xcb_get_image_reply(
      connection, xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, 0, 0, width, height, ~0u),
      nullptr);
  if (reply == nullptr || reply->depth < 24) {
    std::fprintf(stderr, "x_screenshot: cannot read the screen (24-bit screens only)\n");
    std::free(reply);
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
