#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "fake_pc.h"
#include "platform/platform_operations.h"

namespace {

std::u16string Composed(const char16_t* format, std::initializer_list<FormatArg> args) {
    char16_t buffer[kMaxPath];
    EXPECT_TRUE(ComposeText(buffer, format, args));
    return buffer;
}

TEST(ComposeText, SubstitutesTextNumbersAndUnits) {
    EXPECT_EQ(Composed(u"Copy [%s] to [%s]\r\n", {u"C:\\pkg\\FU\\*", u"D:\\preload\\RM_Reserve"}),
              u"Copy [C:\\pkg\\FU\\*] to [D:\\preload\\RM_Reserve]\r\n");
    EXPECT_EQ(Composed(u"%c:\\", {u'Q'}), u"Q:\\");
    EXPECT_EQ(Composed(u"[%d][%d][%d]", {0, -1223, 1223}), u"[0][-1223][1223]");
    EXPECT_EQ(Composed(u"%d %d", {INT32_MIN, INT32_MAX}), u"-2147483648 2147483647");
    EXPECT_EQ(Composed(u"100%% %q", {}), u"100% %q");
    // Text substituted for %s is never read as a format in turn.
    EXPECT_EQ(Composed(u"[%s]", {u"%s%d%c%"}), u"[%s%d%c%]");
}

TEST(ComposeText, MissingOrMismatchedArgumentsExpandToNothing) {
    EXPECT_EQ(Composed(u"[%s][%d]", {}), u"[][]");
    EXPECT_EQ(Composed(u"[%d][%s]", {u"text", 5}), u"[][]");
    EXPECT_EQ(Composed(u"[%s]", {static_cast<const char16_t*>(nullptr)}), u"[]");
    EXPECT_EQ(Composed(u"trailing %", {}), u"trailing %");
    EXPECT_EQ(Composed(u"[%c][%c][%c]", {5, u'\0', u"x"}), u"[][][]");
}

TEST(ComposeText, CutsAtCapacityAndNeverWritesPastIt) {
    const std::u16string exact(kMaxPath - 1, u'x');
    const std::u16string over(kMaxPath, u'x');
    for (size_t capacity : {size_t{1}, size_t{2}, size_t{16}, kMaxPath}) {
        char16_t buffer[kMaxPath + 4];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        const std::u16string fits(capacity - 1, u'y');
        EXPECT_TRUE(ComposeText(buffer, capacity, u"%s", {fits.c_str()}));
        EXPECT_EQ(std::u16string(buffer), fits);

        std::fill(std::begin(buffer), std::end(buffer), u'#');
        EXPECT_FALSE(ComposeText(buffer, capacity, u"%s!", {fits.c_str()}));
        EXPECT_EQ(std::u16string(buffer), fits) << "capacity " << capacity;
        EXPECT_EQ(buffer[capacity], u'#') << "wrote past capacity " << capacity;
    }
    char16_t untouched = u'#';
    EXPECT_FALSE(ComposeText(&untouched, 0, u"x", {}));
    EXPECT_EQ(untouched, u'#');

    // A cut can fall inside a number or on a unit.
    char16_t small[6];
    EXPECT_FALSE(ComposeText(small, u"[%d]", {-2147483647 - 1}));
    EXPECT_EQ(std::u16string(small), u"[-214");
    EXPECT_FALSE(ComposeText(small, u"12345%c", {u'Z'}));
    EXPECT_EQ(std::u16string(small), u"12345");

    char16_t path[kMaxPath];
    EXPECT_TRUE(ComposeText(path, u"%s", {exact.c_str()}));
    EXPECT_FALSE(ComposeText(path, u"%s", {over.c_str()}));
    EXPECT_EQ(TextLength(path), kMaxPath - 1);
    EXPECT_FALSE(ComposeText(path, u"%s%d", {exact.c_str(), 7}));
    EXPECT_EQ(path[kMaxPath - 2], u'x');
}

TEST(ConsoleText, UnitsAboveLatin1PrintAsQuestionMarksAcrossTheBlocksEdge) {
    ResetPc();
    PrintToConsole(u"ExeDir=[%s]\r\n", {u"C:\\\u00E9\u00FF\u0100\U0001F600z\\"});
    EXPECT_EQ(Pc().console, "ExeDir=[C:\\\xE9\xFF???z\\]\r\r\n");

    // Longer than the console block: nothing lost or repeated at the block's edge.
    Pc().console.clear();
    const std::u16string longText(1500, u'\u0101');
    PrintToConsole(u"[%s]", {longText.c_str()});
    EchoToConsole(std::u16string(1500, u'e').c_str());
    EXPECT_EQ(Pc().console, "[" + std::string(1500, '?') + "]" + std::string(1500, 'e'));
}

}  // namespace
