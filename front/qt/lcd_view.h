// Zoom of the LCD in the window: the instrument's own layout, whole-number
// magnifications and "fit to window", and the drawing of the 320 x 240
// picture at any size with crisp pixels.
#pragma once
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

enum ZoomMode : int {
    ZOOM_LAYOUT = 0,  // the instrument's form: 788 x 766, the LCD at 2.4625 x
    ZOOM_1 = 1,
    ZOOM_2 = 2,
    ZOOM_3 = 3,
    ZOOM_4 = 4,
    ZOOM_FIT = 5,  // largest LCD the resizable window holds
};
constexpr int ZOOM_MAX_FACTOR = 4;

// The instrument's form: client area, image control and the strip of
// buttons below it (the buttons keep their places inside the strip).
constexpr int LAYOUT_WIDTH = 788;
constexpr int LAYOUT_HEIGHT = 766;
constexpr int LAYOUT_IMAGE_HEIGHT = 591;
constexpr int KEYPAD_HEIGHT = LAYOUT_HEIGHT - LAYOUT_IMAGE_HEIGHT;

// Where everything goes for one zoom.
struct ZoomGeometry {
    QSize client;   // the window's client area
    QRect image;    // the image control (the LCD and the margin around it)
    QRect lcd;      // the LCD picture, in client coordinates
    QPoint keypad;  // top left of the button strip (its 788 x 175 area)
    bool resizable;
    bool buttons_shown = true;  // false: the strip is hidden (full screen without it)
};

// The geometry of `mode`; for ZOOM_FIT, of a client area of `fit_client`
// (made at least fit_minimum()).
ZoomGeometry zoom_geometry(ZoomMode mode, QSize fit_client = {});
// The smallest client area "fit to window" allows: the buttons and a 1 x LCD.
QSize fit_minimum();

// Whether the window of `mode` (its client area with `frame` around it)
// fits in `room`, the work area of a screen. "Fit to window" fits when its
// smallest window does.
bool zoom_fits(ZoomMode mode, QSize room, QSize frame);
// The zoom shown when `wanted` is asked for on a screen of work area
// `room`: `wanted` when it fits, else the largest whole-number zoom that
// fits, else "fit to window" (which then fills the room as well as it can).
ZoomMode zoom_on_screen(ZoomMode wanted, QSize room, QSize frame);

// Full screen on a screen of size `screen`: the LCD at the largest whole
// number of times its size that fits (at least 1 x), above the button strip
// when `buttons` (else the strip is hidden and the LCD may take the whole
// height), the two centred together.
ZoomGeometry fullscreen_geometry(QSize screen, bool buttons);

// "1".."4", "fit" and "default" (the instrument's layout); false for
// anything else.
bool zoom_parse(const QString& text, ZoomMode* mode);
// The name zoom_parse reads back.
QString zoom_name(ZoomMode mode);
// How the View menu and the messages name a zoom ("3 × (960 × 720)").
QString zoom_title(ZoomMode mode);

// The RGB565 picture drawn into `out` (RGB32, any size): every window pixel
// gets the average of the LCD pixels it covers, weighted by the area it
// covers of each, which is what magnifying by whole pixels and smoothing
// down to the size would give. At whole-number sizes each LCD pixel becomes
// an exact N x N block; at others the insides of the pixels stay flat and
// only the seams blend. Only the window pixels that `changed` (LCD
// coordinates) reaches are drawn again; the returned rectangle (in `out`)
// says which.
QRect lcd_render_into(const QImage& lcd, QImage* out, QRect changed);
// The whole picture at `size`.
QImage lcd_render(const QImage& lcd, QSize size);
