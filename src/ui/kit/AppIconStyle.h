// The seven artworks the program's icon can take. The raw value is what is stored under
// "appIconStyle"; the tile order of the picker is the order of allCases().
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

class QImage;

class AppIconStyle {
public:
    enum Value {
        petroglyph,
        knyazSeal,
        trypilliaCeramic,
        scythianGold,
        trypilliaDarkEmber,
        trypilliaDarkTurquoise,
        trypilliaDarkAzureGold,
    };

    constexpr AppIconStyle(Value v) : value_(v) {}  // NOLINT: a style is its value
    constexpr Value value() const { return value_; }
    constexpr bool operator==(const AppIconStyle&) const = default;

    static const std::array<AppIconStyle, 7>& allCases();
    // Matches the seven raw values exactly (case included).
    static std::optional<AppIconStyle> fromRawValue(std::string_view raw);
    // The style used when nothing, or anything unknown, is stored.
    static constexpr AppIconStyle defaultStyle() { return trypilliaDarkAzureGold; }

    std::string rawValue() const;
    std::string id() const { return rawValue(); }
    std::string displayName() const;
    // "tovrin-" + raw value: the artwork's name in the bundle's icons folder.
    std::string fileName() const;
    // The bundled image of this style, when it exists and can be read.
    std::optional<std::string> imagePath() const;
    // That image decoded; a null image when it is missing or damaged.
    QImage image() const;

private:
    std::string bundledPath() const;

    Value value_;
};
