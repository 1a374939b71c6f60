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
    // Decodes the whole picture now, for a caller that must know the file
    // holds all of it; raises when it does not (the later drawing reuses
    // the work). Nothing to do for a kind that decodes at load.
    virtual void DecodeWhole() {}

protected:
    TGraphic() = default;
};
