// opengl.cpp - the "OpenGL" back-end: the page as a texture, its changed
// rows uploaded with glTexSubImage2D, drawn as one quad.
//
// The context lives on the Presenter thread, from the window's start to its
// finish. The texture has power-of-two sides (OpenGL 1.1 needs them); the
// quad shows its top-left width x height texels, unfiltered.
#include <GL/gl.h>

#include <string>
#include <vector>

#include "backend/win32_window.h"

#ifndef GL_BGRA_EXT
#define GL_BGRA_EXT 0x80E1
#endif

namespace scr {

namespace {

struct Gl {
  HDC dc = nullptr;
  HGLRC context = nullptr;
  GLuint texture = 0;
  int32_t width = 0, height = 0, textureWidth = 0, textureHeight = 0;
  std::vector<uint32_t> rows;  // the changed rows as 0xRRGGBB (blue, green, red, 0 in memory)
};

Gl gGl;

int32_t PowerOfTwo(int32_t n) {
  int32_t p = 1;
  while (p < n) p *= 2;
  return p;
}

void Finish() {
  Gl& g = gGl;
  if (g.context) {
    if (g.texture) glDeleteTextures(1, &g.texture);
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(g.context);
  }
  g = Gl{};
}

bool Start(HWND window, int32_t width, int32_t height, int32_t, std::string& failure) {
  Gl& g = gGl;
  g = Gl{};
  g.dc = GetDC(window);  // the class's own DC: kept until the window goes
  PIXELFORMATDESCRIPTOR pfd{};
  pfd.nSize = sizeof pfd;
  pfd.nVersion = 1;
  pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  pfd.iPixelType = PFD_TYPE_RGBA;
  pfd.cColorBits = 24;
  const int format = ChoosePixelFormat(g.dc, &pfd);
  if (format == 0 || !SetPixelFormat(g.dc, format, &pfd)) {
    failure = format == 0 ? "ChoosePixelFormat found no format" : "SetPixelFormat failed";
    return false;
  }
  g.context = wglCreateContext(g.dc);
  if (!g.context || !wglMakeCurrent(g.dc, g.context)) {
    failure = g.context ? "wglMakeCurrent failed" : "wglCreateContext failed";
    Finish();
    return false;
  }
  g.width = width;
  g.height = height;
  g.textureWidth = PowerOfTwo(width);
  g.textureHeight = PowerOfTwo(height);
  glGenTextures(1, &g.texture);
  glBindTexture(GL_TEXTURE_2D, g.texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  const std::vector<uint32_t> black(size_t(g.textureWidth) * size_t(g.textureHeight), 0);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, g.textureWidth, g.textureHeight, 0, GL_BGRA_EXT, GL_UNSIGNED_BYTE,
               black.data());
  if (const GLenum error = glGetError(); error != GL_NO_ERROR) {
    failure = "the texture cannot be made (OpenGL error " + std::to_string(error) + ")";
    Finish();
    return false;
  }
  glEnable(GL_TEXTURE_2D);
  return true;
}

void Update(const Frame& frame, int32_t first, int32_t last) {
  Gl& g = gGl;
  const int32_t n = last - first + 1;
  g.rows.resize(size_t(frame.width) * size_t(n));
  for (int32_t y = first; y <= last; ++y)
    FrameRowToRgb(frame, y, g.rows.data() + size_t(y - first) * size_t(frame.width));
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, first, frame.width, n, GL_BGRA_EXT, GL_UNSIGNED_BYTE, g.rows.data());
}

void Present(HWND, const RECT& picture, const RECT& client, int32_t, int32_t, bool) {  // the back buffer: all of it
  Gl& g = gGl;
  glViewport(0, 0, client.right, client.bottom);
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  // Client pixels to clip space, y downwards as in the page.
  const auto cx = [&](LONG x) { return GLfloat(2.0 * x / client.right - 1.0); };
  const auto cy = [&](LONG y) { return GLfloat(1.0 - 2.0 * y / client.bottom); };
  const GLfloat u = GLfloat(g.width) / GLfloat(g.textureWidth), v = GLfloat(g.height) / GLfloat(g.textureHeight);
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0), glVertex2f(cx(picture.left), cy(picture.top));
  glTexCoord2f(u, 0), glVertex2f(cx(picture.right), cy(picture.top));
  glTexCoord2f(u, v), glVertex2f(cx(picture.right), cy(picture.bottom));
  glTexCoord2f(0, v), glVertex2f(cx(picture.left), cy(picture.bottom));
  glEnd();
  SwapBuffers(g.dc);
}

const Surface kGlSurface = {Start, Update, Present, Finish, nullptr, nullptr};

int Open(const BackendOpenArgs& args, std::string& reason) {
  return OpenWindowBackend(kGlSurface, args, reason);
}

}  // namespace

extern const Backend kOpenGlBackend = {"OpenGL", Open, CloseWindowBackend,
                                       LockWindowBackend, UnlockWindowBackend, nullptr, true};

}  // namespace scr
