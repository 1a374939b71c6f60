#pragma once

#include <string>

class QPainter;

// A picture that a TImage control holds and draws at its natural size.
// Subclasses: TJPEGImage (the only kind the program loads).
class TGraphic {
public:
    virtual ~TGraphic() = default;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;

    virtual int Width() const = 0;
    virtual int Height() const = 0;
    // Reads the whole file; raises on failure and then holds nothing new.
    virtual void LoadFromFile(const std::string& fileName) = 0;
    // Draws with the top-left corner at (x, y), never scaled.
    virtual void Draw(QPainter& painter, int x, int y) = 0;

protected:
    TGraphic() = default;
};
