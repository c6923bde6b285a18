#include "platform/xdg/JsonFileDefaults.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(JsonFileDefaults, KeepsEachValuesTypeAcrossARestart) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/Tovrin/defaults.json";
    {
        platform::JsonFileDefaults d(path);
        d.setBool("sounds", false);
        d.setInt("pttKeyCode", 62);
        d.setDouble("widgetOriginX", 12.5);
        d.setDouble("whole", 3.0);
        d.setString("lang", "uk");
        d.setString("digits", "63");
        d.setString("provider", "local");
        d.remove("provider");
    }
    platform::JsonFileDefaults d(path);
    EXPECT_EQ(d.object("sounds"), platform::DefaultsValue(false));
    EXPECT_EQ(d.object("pttKeyCode"), platform::DefaultsValue(std::int64_t{62}));
    EXPECT_EQ(d.object("widgetOriginX"), platform::DefaultsValue(12.5));
    EXPECT_EQ(d.object("lang"), platform::DefaultsValue(std::string("uk")));
    EXPECT_EQ(d.object("digits"), platform::DefaultsValue(std::string("63")));
    EXPECT_FALSE(d.object("provider").has_value());
    // A real that happens to be whole is still a real, so it never passes for an integer setting.
    ASSERT_TRUE(d.object("whole").has_value());
    EXPECT_FALSE(std::holds_alternative<std::int64_t>(*d.object("whole")));
}

// Values of types no setting has belong to someone else (a newer version, the user's own notes):
// they read as absent and survive every save as they were, until a setting of that name is made.
TEST(JsonFileDefaults, ValuesOfUnexpectedTypesStayInTheFileUntouched) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/defaults.json";
    {
        std::ofstream out(path);
        out << R"({"list": [1, "a", {"b": null}], "map": {"x": [true]}, "none": null, "huge": 18446744073709551615,)"
               R"( "lang": "uk", "gone": [2]})";
    }
    {
        platform::JsonFileDefaults d(path);
        EXPECT_FALSE(d.object("list").has_value());
        EXPECT_FALSE(d.object("huge").has_value());
        d.setString("lang", "en");
        d.setBool("none", true);  // a setting of ours takes the name over
        d.remove("gone");
    }
    const auto doc = nlohmann::json::parse(slurp(path));
    EXPECT_EQ(doc, nlohmann::json::parse(R"({"list": [1, "a", {"b": null}], "map": {"x": [true]}, "none": true,)"
                                         R"( "huge": 18446744073709551615, "lang": "en"})"));
}

// A change that cannot be written now (here the file's name is taken by a folder) is kept in
// memory and goes to the file with the next save that succeeds.
TEST(JsonFileDefaults, AChangeThatCannotBeWrittenIsKeptForTheNextSave) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/defaults.json";
    platform::JsonFileDefaults d(path);
    std::filesystem::create_directories(path);
    d.setString("lang", "uk");
    EXPECT_EQ(d.object("lang"), platform::DefaultsValue(std::string("uk")));
    std::filesystem::remove(path);
    d.setBool("sounds", false);
    const auto doc = nlohmann::json::parse(slurp(path));
    EXPECT_EQ(doc, nlohmann::json::parse(R"({"lang": "uk", "sounds": false})"));
}

TEST(JsonFileDefaults, AMalformedFileIsKeptAsideNotOverwritten) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/defaults.json";
    {
        std::ofstream out(path);
        out << "{\"lang\": \"uk\", broken";
    }
    platform::JsonFileDefaults d(path);
    EXPECT_FALSE(d.object("lang").has_value());
    d.setString("lang", "en");
    EXPECT_EQ(slurp(path + ".corrupt"), "{\"lang\": \"uk\", broken");
    EXPECT_NE(slurp(path).find("\"en\""), std::string::npos);
}

TEST(JsonFileDefaults, EveryMalformedFileKeepsItsOwnCopyAndTheSettingsArePrivate) {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/Tovrin";
    const std::string path = folder + "/defaults.json";
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms(0755));
    for (const char* broken : {"first broken", "second broken", "third broken"}) {
        std::ofstream(path) << broken;
        platform::JsonFileDefaults d(path);
        d.setString("lang", "en");
    }
    EXPECT_EQ(slurp(path + ".corrupt"), "first broken");
    EXPECT_EQ(slurp(path + ".corrupt.2"), "second broken");
    EXPECT_EQ(slurp(path + ".corrupt.3"), "third broken");

    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "a folder left open by an older run is tightened";
}

TEST(DefaultsReaders, ConvertTheWayTheSettingsExpect) {
    QTemporaryDir dir;
    platform::JsonFileDefaults d(dir.path().toStdString() + "/d.json");
    d.setString("a", "YES");
    d.setString("b", "no");
    d.setInt("c", 0);
    d.setDouble("e", 2.7);
    EXPECT_TRUE(d.boolean("a"));
    EXPECT_FALSE(d.boolean("b"));
    EXPECT_FALSE(d.boolean("c"));
    EXPECT_FALSE(d.boolean("absent"));
    EXPECT_EQ(d.integer("e"), 2);
    EXPECT_EQ(d.string("c"), std::nullopt);
}

}  // namespace
