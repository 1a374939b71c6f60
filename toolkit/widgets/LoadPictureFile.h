#pragma once

#include <string>

class TImage;

// Loads a picture file into a picture control. The kind of picture comes
// from the file name's extension, in any letter case: "jpg" and "jpeg" are
// JPEG pictures; any other raises EInvalidGraphic "Unknown picture file
// extension (.%s)". File and header errors (EFOpenError, EReadError, EJPEG)
// go to the caller, and the control then keeps its previous picture. On
// success the control drops its previous picture, takes the new one,
// adjusts its size when AutoSize is on, and repaints at the next paint; it
// remembers fileName as the file it shows.
void LoadPictureFile(TImage& image, const std::string& fileName);

// LoadPictureFile for a file that must hold the whole picture (one just
// downloaded): the picture is decoded completely before the control takes
// it. A decoding error, or data that end before the picture does, raise
// EJPEG, and the control keeps its previous picture.
void LoadWholePictureFile(TImage& image, const std::string& fileName);
