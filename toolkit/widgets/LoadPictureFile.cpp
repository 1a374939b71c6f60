#include "toolkit/widgets/LoadPictureFile.h"

#include "toolkit/runtime/SysUtils.h"
#include "toolkit/widgets/GraphicErrors.h"
#include "toolkit/widgets/TImage.h"
#include "toolkit/widgets/TJPEGImage.h"

#include <QString>

#include <memory>

namespace {

// The picture kinds by file extension. The program makes only JPEG files.
struct PictureKind {
    const char* extension;
    std::unique_ptr<TGraphic> (*make)();
};

std::unique_ptr<TGraphic> MakeJpeg() {
    return std::make_unique<TJPEGImage>();
}

const PictureKind kPictureKinds[] = {
    { "jpg", MakeJpeg },
    { "jpeg", MakeJpeg },
};

std::unique_ptr<TGraphic> LoadPicture(const std::string& fileName) {
    std::string extension = ExtractFileExt(fileName);
    if (!extension.empty())
        extension.erase(0, 1);
    const QString lower = QString::fromLocal8Bit(extension.c_str()).toLower();
    for (const PictureKind& kind : kPictureKinds) {
        if (lower == QLatin1String(kind.extension)) {
            std::unique_ptr<TGraphic> picture = kind.make();
            picture->LoadFromFile(fileName);
            return picture;
        }
    }
    throw EInvalidGraphic("Unknown picture file extension (." + extension + ")");
}

} // namespace

void LoadPictureFile(TImage& image, const std::string& fileName) {
    image.SetGraphic(LoadPicture(fileName), fileName);
}

void LoadWholePictureFile(TImage& image, const std::string& fileName) {
    std::unique_ptr<TGraphic> picture = LoadPicture(fileName);
    picture->DecodeWhole();
    image.SetGraphic(std::move(picture), fileName);
}
