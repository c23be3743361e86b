// Paths whose bytes are not UTF-8: text operations keep the bytes, JSON writes
// them as json.dumps writes the str os.fsdecode makes of them.

#include <gtest/gtest.h>

#include "quarrix/util/json.hpp"
#include "quarrix/util/text.hpp"

using namespace quarrix;
using namespace quarrix::util;

TEST(NonUtf8Text, EachInvalidByteIsOneEscapedCodePointAndComesBackUnchanged) {
  // 0xE9 alone (Latin-1 e-acute), a truncated sequence, an encoded surrogate, valid e-acute.
  const std::string path = "rtl/caf\xe9/\xe2\x82x\xed\xa0\x80\xc3\xa9.V";
  EXPECT_EQ(to_code_points(path), (std::u32string{U'r', U't', U'l', U'/', U'c', U'a', U'f', 0xDCE9, U'/', 0xDCE2,
                                                  0xDC82, U'x', 0xDCED, 0xDCA0, 0xDC80, 0xE9, U'.', U'V'}));
  EXPECT_EQ(from_code_points(to_code_points(path)), path);
  EXPECT_EQ(length(path), 18u);
  EXPECT_EQ(lower(path), "rtl/caf\xe9/\xe2\x82x\xed\xa0\x80\xc3\xa9.v");
  EXPECT_EQ(upper("caf\xe9"), "CAF\xe9");
  EXPECT_EQ(slice(path, 7, 8), "\xe9");
  EXPECT_EQ(slice(path, -4), "\x80\xc3\xa9.V");
  EXPECT_EQ(rstrip("x\xff \xff", "\xff"), "x\xff ");  // the escape of 0xFF is one character, found from either end
  EXPECT_EQ(lstrip("\xff\xfex", "\xfe\xff"), "x");
  // Decoding text from disk still replaces.
  EXPECT_EQ(decode_utf8_replace("caf\xe9"), "caf\xef\xbf\xbd");
}

TEST(NonUtf8Json, InvalidBytesAreWrittenAsSurrogateEscapesInEitherStyle) {
  Json row = Json::object();
  row["path"] = "rtl/caf\xe9/cnt\xff.v";
  row["name"] = "caf\xc3\xa9";
  EXPECT_EQ(dumps_python(row), R"({"path": "rtl/caf\udce9/cnt\udcff.v", "name": "caf\u00e9"})");
  EXPECT_EQ(dumps_python(row, {.item_separator = ",", .key_separator = ":", .ensure_ascii = false}),
            "{\"path\":\"rtl/caf\\udce9/cnt\\udcff.v\",\"name\":\"caf\xc3\xa9\"}");
}

TEST(NonUtf8Json, IndentedAndCompactStylesWriteValidTextAsBeforeByteForByte) {
  // What the command line wrote through the JSON library before: the two must agree.
  const Json rows = Json::parse(R"([{"name": "caf\u00e9 \ud83d\ude00", "ctl": "\u0001\u001f\u007f\t\"\\/",
      "files": ["a.v", "b.v"], "empty": [], "map": {}, "n": -3, "x": 0.25, "big": 1e300, "ok": true, "no": null,
      "nested": {"deep": [[1, {"k": [2]}]]}}, [], {}])");
  EXPECT_EQ(dumps_python(rows, {.indent = 2, .item_separator = ",", .ensure_ascii = false}), rows.dump(2));
  EXPECT_EQ(dumps_python(rows, {.item_separator = ",", .key_separator = ":", .ensure_ascii = false}), rows.dump());
}

TEST(NonUtf8Json, ParsingReadsTheEscapesBackAsTheBytes) {
  Json row = Json::object();
  row["caf\xe9"] = Json::array({"rtl/\xff\x80.v", std::string("nul \0 then \xc3\xbf", 13)});
  EXPECT_EQ(parse_json(dumps_python(row)), row);
  EXPECT_EQ(parse_json(dumps_python(row, {.indent = 2, .item_separator = ",", .ensure_ascii = false})), row);
  // A surrogate pair is still one character, and escaped NULs stay what they were.
  EXPECT_EQ(parse_json(R"(["\uDBFF\uDCFF", "\u0000\u00ff", "\\udcff"])"),
            Json::array({"\xf4\x8f\xb3\xbf", std::string("\0\xc3\xbf", 3), "\\udcff"}));
  // A lone surrogate that escapes no byte has no bytes at all.
  EXPECT_FALSE(parse_json(R"(["\ud800"])"));
  EXPECT_FALSE(parse_json(R"(["\udc7f"])"));
}
