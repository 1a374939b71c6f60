#include "app/ExtractImageUrl.h"

#include <gtest/gtest.h>

TEST(ExtractImageUrl, CutsTheAddressAfterTheFirstMarker) {
    EXPECT_EQ(ImageMarker.size(), 28u);
    struct Row {
        const char* name;
        std::string line;
        std::string expected;
    };
    const Row rows[] = {
        { "address between marker and quote",
          R"(  <div><img class="wallpaper" src="http://img.example/w/1024x768/200.jpg" alt="x" /></div>)",
          "http://img.example/w/1024x768/200.jpg" },
        { "empty address", R"(<img class="wallpaper" src="" />)", "" },
        { "marker ends the line", R"(text <img class="wallpaper" src=")", "" },
        { "no closing quote", R"(<img class="wallpaper" src="/pics/200.jpg alt=x>)",
          "/pics/200.jpg alt=x>" },
        { "first of two tags",
          R"(<img class="wallpaper" src="a.jpg"><img class="wallpaper" src="b.jpg">)", "a.jpg" },
        { "nothing decoded or resolved", R"(<img class="wallpaper" src=" ../w.jpg?a=1&amp;b=2 ">)",
          " ../w.jpg?a=1&amp;b=2 " },
        { "bytes pass through", "<img class=\"wallpaper\" src=\"\xC0\xFF\x01.jpg\"",
          "\xC0\xFF\x01.jpg" },
        { "no marker", R"(<img class='wallpaper' src='a.jpg'>)", "" },
        { "capitals are no marker", R"(<IMG class="wallpaper" src="a.jpg">)", "" },
    };
    for (const auto& row : rows) {
        const std::string copy = row.line;
        EXPECT_EQ(ExtractImageUrl(row.line), row.expected) << row.name;
        EXPECT_EQ(row.line, copy) << row.name << ": the caller's line changed";
    }
}
