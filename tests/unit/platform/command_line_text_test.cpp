#include <gtest/gtest.h>

#include "platform/command_line_text.h"

TEST(CommandLineText, ArgumentsComeBackWholeThroughTheRuntimesSplitting) {
    // Quotes only where needed; backslashes doubled only before a quote, the closing one
    // included; an empty argument as "".
    EXPECT_EQ(windowsCommandLine({"rsvg-convert", "-o", "C:\\out dir\\a.png", "C:\\in\\",
                                  "say \"hi\"", "end\\", "trail \\", ""}),
              "rsvg-convert -o \"C:\\out dir\\a.png\" C:\\in\\ \"say \\\"hi\\\"\" end\\ "
              "\"trail \\\\\" \"\"");
    EXPECT_EQ(windowsCommandLine({"a\\\\\"b"}), "\"a\\\\\\\\\\\"b\"");
}
