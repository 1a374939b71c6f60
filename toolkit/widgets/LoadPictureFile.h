#pragma once

#include <string>

class TImage;

// Loads a picture file into a picture control. The kind of picture comes
// from the file name's extension, in any letter case: "jpg" and "jpeg" are
// JPEG pictures; any other raises EInvalidGraphic "Unknown picture file
// extension (.%s)". File and header errors (EFOpenError, EReadError, EJPEG)
// go to the caller, and the control then keeps its previous picture. On
// success the control drops its previous picture, takes the new one,
// adjusts its size when AutoSize is on, and repaints at the next paint.
void LoadPictureFile(TImage& image, const std::string& fileName);
