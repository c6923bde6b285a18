#include "ui/kit/AppIconStyle.h"

#include "platform/Paths.h"

#include <QImage>
#include <QImageReader>
#include <QString>

namespace {

struct Entry {
    AppIconStyle::Value value;
    const char* raw;
    const char* name;
};

// Display names of the night variants carry U+00B7 MIDDLE DOT between blanks.
constexpr Entry kEntries[] = {
    {AppIconStyle::petroglyph, "petroglyph", "Petroglyph"},
    {AppIconStyle::knyazSeal, "knyaz-seal", "Knyaz Seal"},
    {AppIconStyle::trypilliaCeramic, "trypillia-ceramic", "Trypillia Ceramic"},
    {AppIconStyle::scythianGold, "scythian-gold", "Scythian Gold"},
    {AppIconStyle::trypilliaDarkEmber, "trypillia-dark-ember", "Trypillia Night \u00B7 Ember"},
    {AppIconStyle::trypilliaDarkTurquoise, "trypillia-dark-turquoise", "Trypillia Night \u00B7 Turquoise"},
    {AppIconStyle::trypilliaDarkAzureGold, "trypillia-dark-azure-gold", "Trypillia Night \u00B7 Azure Gold"},
};

const Entry& entry(AppIconStyle::Value v) {
    for (const auto& e : kEntries)
        if (e.value == v) return e;
    return kEntries[6];
}

}  // namespace

const std::array<AppIconStyle, 7>& AppIconStyle::allCases() {
    static const std::array<AppIconStyle, 7> all = {petroglyph,         knyazSeal,
                                                    trypilliaCeramic,   scythianGold,
                                                    trypilliaDarkEmber, trypilliaDarkTurquoise,
                                                    trypilliaDarkAzureGold};
    return all;
}

std::optional<AppIconStyle> AppIconStyle::fromRawValue(std::string_view raw) {
    for (const auto& e : kEntries)
        if (raw == e.raw) return AppIconStyle(e.value);
    return std::nullopt;
}

std::string AppIconStyle::rawValue() const { return entry(value_).raw; }
std::string AppIconStyle::displayName() const { return entry(value_).name; }
std::string AppIconStyle::fileName() const { return "tovrin-" + rawValue(); }

std::string AppIconStyle::bundledPath() const {
    return platform::Paths::resources() + "/icons/" + fileName() + ".png";
}

QImage AppIconStyle::image() const {
    // Decoded in full: a file that only starts like an image (cut short, damaged) counts as missing.
    QImageReader reader(QString::fromStdString(bundledPath()));
    QImage image;
    if (!reader.read(&image)) return {};
    return image;
}

std::optional<std::string> AppIconStyle::imagePath() const {
    if (image().isNull()) return std::nullopt;
    return bundledPath();
}
