// The .reg text parser: both file encodings, every value form, and damaged input.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/reg_text.h"
#include "platform/win32.h"

namespace {

// UTF-16LE with a byte-order mark, as regedit writes; text is UTF-8.
std::string utf16File(const std::string& text) {
    std::string out = "\xFF\xFE";
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t code = static_cast<unsigned char>(text[i]);
        if (code >= 0xE0) {
            code = ((code & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) | (text[i + 2] & 0x3F);
            i += 2;
        } else if (code >= 0xC0) {
            code = ((code & 0x1F) << 6) | (text[i + 1] & 0x3F);
            i += 1;
        }
        out += static_cast<char>(code & 0xFF);
        out += static_cast<char>(code >> 8);
    }
    return out;
}

std::vector<uint8_t> bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

std::vector<uint8_t> withZero(const std::string& text) {
    std::vector<uint8_t> data = bytes(text);
    data.push_back(0);
    return data;
}

const RegTextValue* value(const RegTextKey& tree, const char* key, const char* name) {
    const RegTextKey* found = findRegTextKey(tree, key);
    return found != nullptr ? findRegTextValue(*found, name) : nullptr;
}

std::vector<std::string> subkeyNames(const RegTextKey& key) {
    std::vector<std::string> names;
    for (const RegTextKey& sub : key.subkeys) {
        names.push_back(sub.name);
    }
    return names;
}

const char kSample[] = "Windows Registry Editor Version 5.00\r\n"
                       "\r\n"
                       "; a comment\r\n"
                       "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\Test]\r\n"
                       "\"CLSID\"=\"{1B2C3D4E-0001-4A00-8000-00000000000A}\"\r\n"
                       "@=\"default \\\"quoted\\\" C:\\\\dir\"\r\n"
                       "\"Count\"=dword:0000002a\r\n"
                       "\"Blob\"=hex:00,01,\\\r\n"
                       "  ff,7F\r\n"
                       "\"Path\"=hex(2):43,00,3a,00,5c,00,e9,00,00,00\r\n"
                       "\"Word\"=\"caf\xC3\xA9\"\r\n"
                       "\r\n"
                       "[HKEY_CLASSES_ROOT\\CLSID\\{x}\\InprocServer32]\r\n"
                       "@=\"server.dll\"\r\n";

void expectSample(const RegTextKey& tree, const char* encoding) {
    SCOPED_TRACE(encoding);
    const char* key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\ASIO\\Test";
    const struct {
        const char* key;
        const char* name;
        uint32_t type;
        std::vector<uint8_t> data;
    } values[] = {
        {key, "clsid", REG_SZ, withZero("{1B2C3D4E-0001-4A00-8000-00000000000A}")},
        {key, "", REG_SZ, withZero("default \"quoted\" C:\\dir")},
        {key, "COUNT", REG_DWORD, {0x2a, 0, 0, 0}},
        {key, "Blob", REG_BINARY, {0x00, 0x01, 0xff, 0x7f}},
        // Read through the A-API, so UTF-16 string data comes out as 8-bit text.
        {key, "Path", REG_EXPAND_SZ, withZero("C:\\\xC3\xA9")},
        {key, "Word", REG_SZ, withZero("caf\xC3\xA9")},
        {"HKEY_CLASSES_ROOT\\clsid\\{X}\\inprocserver32", "", REG_SZ, withZero("server.dll")},
    };
    for (const auto& v : values) {
        SCOPED_TRACE(v.name);
        const RegTextValue* found = value(tree, v.key, v.name);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->type, v.type);
        EXPECT_EQ(found->data, v.data);
    }
}

TEST(RegText, ReadsUtf16AndEightBitFilesAlike) {
    RegTextKey tree;
    ASSERT_TRUE(parseRegText(utf16File(kSample), tree));
    expectSample(tree, "UTF-16LE");

    ASSERT_TRUE(parseRegText(kSample, tree));
    expectSample(tree, "8-bit, CRLF");

    std::string lf = kSample;
    for (size_t at = lf.find('\r'); at != std::string::npos; at = lf.find('\r')) {
        lf.erase(at, 1);
    }
    ASSERT_TRUE(parseRegText("\xEF\xBB\xBF" + lf, tree));
    expectSample(tree, "UTF-8 with BOM, LF");
}

TEST(RegText, KeepsEightBitHexStringsAsGivenAndTakesRegedit4) {
    RegTextKey tree;
    ASSERT_TRUE(parseRegText("REGEDIT4\n"
                             "[HKEY_CURRENT_USER\\K]\n"
                             "\"Eight\"=hex(2):41,42,00\n"
                             "\"Wide\"=hex(2):41,00,42,00,00,00\n"
                             "\"Multi\"=hex(7):61,00,62,00,00\n"
                             "\"Other\"=hex(b):01,02,03,04,05,06,07,08\n",
                             tree));
    EXPECT_EQ(value(tree, "HKEY_CURRENT_USER\\K", "Eight")->data, withZero("AB"));
    // REGEDIT4 string data is 8-bit whatever it looks like.
    EXPECT_EQ(value(tree, "HKEY_CURRENT_USER\\K", "Wide")->data,
              (std::vector<uint8_t>{0x41, 0, 0x42, 0, 0, 0}));
    EXPECT_EQ(value(tree, "HKEY_CURRENT_USER\\K", "Multi")->type,
              static_cast<uint32_t>(REG_MULTI_SZ));
    EXPECT_EQ(value(tree, "HKEY_CURRENT_USER\\K", "Other")->type, 11u);
    EXPECT_EQ(value(tree, "HKEY_CURRENT_USER\\K", "Other")->data.size(), 8u);

    ASSERT_TRUE(parseRegText("Windows Registry Editor Version 5.00\n"
                             "[HKEY_CURRENT_USER\\K]\n"
                             "\"Eight\"=hex(2):43,3a,5c,00\n"
                             "\"Wide\"=hex(2):41,00,42,00,00,00\n",
                             tree));
    EXPECT_EQ(value(tree, "HKEY_CURRENT_USER\\K", "Eight")->data, withZero("C:\\"));
    EXPECT_EQ(value(tree, "HKEY_CURRENT_USER\\K", "Wide")->data, withZero("AB"));
}

TEST(RegText, MergesKeysWhateverTheCaseSortsThemAndHonoursDeletions) {
    RegTextKey tree;
    ASSERT_TRUE(parseRegText("REGEDIT4\n"
                             "[HKLM\\Software\\Order\\beta]\n"
                             "\"a\"=\"1\"\n"
                             "\"b\"=\"2\"\n"
                             "[hkey_local_machine\\SOFTWARE\\order\\Alpha]\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Order\\BETA]\n"
                             "\"A\"=\"replaced\"\n"
                             "\"b\"=-\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Order\\_under]\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Order\\10]\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Order\\Gone\\Deep]\n"
                             "[-HKEY_LOCAL_MACHINE\\Software\\Order\\gone]\n"
                             "\"ignored\"=\"after a deletion\"\n"
                             "[-HKEY_LOCAL_MACHINE\\Software\\Order\\never there]\n",
                             tree));
    const RegTextKey* order = findRegTextKey(tree, "HKEY_LOCAL_MACHINE\\software\\ORDER");
    ASSERT_NE(order, nullptr);
    // Folded to upper case, as the system sorts: '_' comes after the letters.
    EXPECT_EQ(subkeyNames(*order), (std::vector<std::string>{"10", "Alpha", "beta", "_under"}));
    const RegTextKey* beta = findRegTextKey(*order, "Beta");
    ASSERT_NE(beta, nullptr);
    ASSERT_EQ(beta->values.size(), 1u);
    EXPECT_EQ(beta->values[0].name, "a");
    EXPECT_EQ(beta->values[0].data, withZero("replaced"));
    EXPECT_EQ(findRegTextKey(*order, "Gone"), nullptr);
    EXPECT_EQ(findRegTextKey(tree, "HKEY_LOCAL_MACHINE\\Software\\Order\\\\Alpha\\"),
              findRegTextKey(*order, "alpha"));
}

TEST(RegText, RefusesTextWithoutAHeader) {
    RegTextKey tree;
    regTextSubkey(tree, "left over");
    EXPECT_FALSE(parseRegText("", tree));
    EXPECT_TRUE(tree.subkeys.empty());
    EXPECT_FALSE(parseRegText("[HKEY_CURRENT_USER\\K]\n\"a\"=\"b\"\n", tree));
    EXPECT_FALSE(parseRegText("Windows Registry Editor Version 4.00\n", tree));
    EXPECT_FALSE(parseRegText("\xFE\xFF\0W", tree));
    EXPECT_TRUE(tree.subkeys.empty());
    EXPECT_TRUE(parseRegText("\n\nREGEDIT4", tree));
    EXPECT_TRUE(tree.subkeys.empty());
}

TEST(RegText, SkipsDamagedLinesAndKeepsTheRest) {
    RegTextKey tree;
    ASSERT_TRUE(parseRegText("REGEDIT4\n"
                             "\"before\"=\"any section\"\n"
                             "[HKEY_NOWHERE\\K]\n"
                             "\"unknown root\"=\"x\"\n"
                             "[HKEY_CURRENT_USER\\K\n"
                             "\"unclosed section\"=\"x\"\n"
                             "[HKEY_CURRENT_USER\\K]\n"
                             "\"unterminated=\"x\n"
                             "\"open\"=\"no closing quote\n"
                             "\"trailing\"=\"x\" junk\n"
                             "\"no equals\" \"x\"\n"
                             "\"long\"=dword:123456789\n"
                             "\"empty\"=dword:\n"
                             "\"letters\"=dword:xyz\n"
                             "\"badhex\"=hex:01,zz,02\n"
                             "\"wide\"=hex:123\n"
                             "\"kind\"=hex(:01\n"
                             "\"kind2\"=hex(2:01\n"
                             "\"word\"=unknown:1\n"
                             "@\n"
                             "=\"x\"\n"
                             "]\n"
                             "[\n"
                             "[]\n"
                             "\"lost\"=\"after a broken section\"\n"
                             "[HKEY_CURRENT_USER\\K]\n"
                             "\"good\"=\"kept\"\n"
                             "\"cut\"=hex:01,\\\n",
                             tree));
    const RegTextKey* key = findRegTextKey(tree, "HKEY_CURRENT_USER\\K");
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->values.size(), 2u);
    EXPECT_EQ(key->values[0].name, "good");
    EXPECT_EQ(key->values[1].name, "cut");
    EXPECT_EQ(key->values[1].data, (std::vector<uint8_t>{0x01}));
    ASSERT_EQ(tree.subkeys.size(), 1u);
}

TEST(RegText, NeverCrashesOnTruncatedOrRandomInput) {
    const std::string files[] = {kSample, utf16File(kSample)};
    RegTextKey tree;
    for (const std::string& file : files) {
        for (size_t length = 0; length <= file.size(); ++length) {
            parseRegText(file.substr(0, length), tree);
        }
    }
    // Damaged UTF-16: an odd byte count and unpaired surrogates.
    std::string wide = utf16File("REGEDIT4\n[HKEY_CURRENT_USER\\S]\n\"v\"=\"x\"\n");
    wide += std::string("\x00\xD8\x41\x00\x00\xDC", 6) + "\x01";
    ASSERT_TRUE(parseRegText(wide, tree));
    EXPECT_NE(value(tree, "HKEY_CURRENT_USER\\S", "v"), nullptr);

    std::mt19937 random(12345);
    const std::string alphabet = "[]\\\"@=-,:;()hexdwordHKEY_LOCAL_MACHINE\r\n 0123456789abcdef";
    for (int round = 0; round < 300; ++round) {
        std::string text = round % 2 == 0 ? "REGEDIT4\n" : "\xFF\xFE";
        const int length = static_cast<int>(random() % 400);
        for (int i = 0; i < length; ++i) {
            text += round % 3 == 0 ? static_cast<char>(random() & 0xFF)
                                   : alphabet[random() % alphabet.size()];
        }
        parseRegText(text, tree);
    }
}

} // namespace
