#include "tools/demosite/TDemoWallpaper.h"

#include <array>

namespace {

struct TTheme {
    const char* Title;
    const char* Description;
    QRgb Sky;
    QRgb Horizon;
    QRgb Land;
    QRgb Accent;
};

constexpr std::array<TTheme, 8> Themes { {
    { "Amber Dusk", "Warm evening light over rolling hills.", 0x2b1e4f, 0xf49b53, 0x3a2340,
      0xffd27f },
    { "Deep Lagoon", "Calm turquoise water under a clear sky.", 0x08306b, 0x4fc3c7, 0x0b4f5c,
      0xb6f0ff },
    { "Pine Morning", "Mist lifting from a quiet forest valley.", 0x9fc5a8, 0xeef3d2, 0x1f4d3a,
      0xffffff },
    { "Violet Hour", "The sky just after sunset, before the stars.", 0x1a1038, 0xb05ea8, 0x24163f,
      0xf7b2e6 },
    { "Desert Noon", "Dunes in bright midday sun.", 0x3d8fd1, 0xf6e3b4, 0xc8843f, 0xfff6d8 },
    { "Northern Lights", "Green curtains of light above a frozen lake.", 0x020b1c, 0x1f7a6a,
      0x0c1626, 0x7dffc4 },
    { "Coral Reef", "Soft pinks and blues of shallow water.", 0x1d5c8c, 0xff9e8a, 0x13405e,
      0xffe0d6 },
    { "Autumn Field", "Golden grass and a low October sun.", 0x6b8fb8, 0xf2c46d, 0x7a3d17,
      0xffe7a3 },
} };

// Picture sizes the demo cycles through, so that the program meets pictures
// larger and smaller than its picture pane; 1920 x 1200 is among them.
constexpr std::array<QSize, 6> Sizes { {
    { 1920, 1200 },
    { 1024, 768 },
    { 1280, 800 },
    { 1600, 900 },
    { 800, 600 },
    { 1366, 768 },
} };

// A few numbers deliberately break the pattern, as on a real site.
TDemoWallpaper::TKind KindOf(int number) {
    switch (number) {
    case 213:
    case 241:
        return TDemoWallpaper::TKind::Removed;
    case 237:
        return TDemoWallpaper::TKind::Missing;
    default:
        return TDemoWallpaper::TKind::Regular;
    }
}

std::size_t Slot(int number, std::size_t count) {
    // Unsigned arithmetic keeps negative or huge numbers well defined.
    return static_cast<std::size_t>(static_cast<unsigned>(number) % count);
}

} // namespace

TDemoWallpaper TDemoWallpaper::ForNumber(int number) {
    const TTheme& theme = Themes[Slot(number, Themes.size())];
    TDemoWallpaper wallpaper;
    wallpaper.Number = number;
    wallpaper.Kind = KindOf(number);
    wallpaper.Title = QString::fromLatin1(theme.Title);
    wallpaper.Description = QString::fromLatin1(theme.Description);
    wallpaper.Size = Sizes[Slot(number, Sizes.size())];
    wallpaper.Sky = QColor::fromRgb(theme.Sky);
    wallpaper.Horizon = QColor::fromRgb(theme.Horizon);
    wallpaper.Land = QColor::fromRgb(theme.Land);
    wallpaper.Accent = QColor::fromRgb(theme.Accent);
    return wallpaper;
}
