#pragma once
// Window and control lengths are stored in twips (1/1440 inch); the screen
// works in pixels. 15 twips make one pixel at 96 dots per inch.

namespace kv {

inline constexpr int kTwipsPerPixel = 15;

int twipsToPixels(double twips);
double pixelsToTwips(int pixels);

} // namespace kv
