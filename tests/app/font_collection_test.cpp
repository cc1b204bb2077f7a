#include "app/font_collection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orrin {
namespace {

void Put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}
void Put32(std::vector<uint8_t>& out, uint32_t value) {
  Put16(out, value >> 16);
  Put16(out, value & 0xFFFF);
}
void Set32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

struct NameRecord {
  uint16_t platform;
  uint16_t nameId;
  std::u16string text;  // platform 3: UTF-16
  std::string bytes;    // platform 1: single bytes
};

// A 'name' table holding `records`.
std::vector<uint8_t> NameTable(const std::vector<NameRecord>& records) {
  std::vector<uint8_t> strings;
  std::vector<uint8_t> table;
  Put16(table, 0);
  Put16(table, static_cast<uint32_t>(records.size()));
  Put16(table, static_cast<uint32_t>(6 + 12 * records.size()));
  for (const NameRecord& record : records) {
    const size_t at = strings.size();
    if (record.platform == 1) {
      strings.insert(strings.end(), record.bytes.begin(), record.bytes.end());
    } else {
      for (char16_t c : record.text) Put16(strings, c);
    }
    Put16(table, record.platform);
    Put16(table, record.platform == 1 ? 0 : 1);
    Put16(table, record.platform == 1 ? 0 : 0x0409);
    Put16(table, record.nameId);
    Put16(table, static_cast<uint32_t>(strings.size() - at));
    Put16(table, static_cast<uint32_t>(at));
  }
  table.insert(table.end(), strings.begin(), strings.end());
  return table;
}

// A collection of faces, each with a table directory holding a dummy table and its name
// table, laid out as a real 'ttcf' file is: header, offsets, directories, tables.
std::vector<uint8_t> Collection(const std::vector<std::vector<NameRecord>>& faces) {
  std::vector<uint8_t> file;
  Put32(file, 0x74746366);  // 'ttcf'
  Put32(file, 0x00010000);
  Put32(file, static_cast<uint32_t>(faces.size()));
  const size_t offsets = file.size();
  for (size_t i = 0; i < faces.size(); ++i) Put32(file, 0);
  for (size_t i = 0; i < faces.size(); ++i) {
    Set32(file, offsets + 4 * i, static_cast<uint32_t>(file.size()));
    const std::vector<uint8_t> name = NameTable(faces[i]);
    Put32(file, 0x00010000);
    Put16(file, 2);
    Put16(file, 0);
    Put16(file, 0);
    Put16(file, 0);
    const size_t records = file.size();
    for (const char* tag : {"head", "name"}) {
      for (int c = 0; c < 4; ++c) file.push_back(static_cast<uint8_t>(tag[c]));
      Put32(file, 0);
      Put32(file, 0);
      Put32(file, 0);
    }
    const size_t head = file.size();
    for (int b = 0; b < 54; ++b) file.push_back(0);
    Set32(file, records + 8, static_cast<uint32_t>(head));
    Set32(file, records + 12, 54);
    const size_t nameAt = file.size();
    file.insert(file.end(), name.begin(), name.end());
    Set32(file, records + 16 + 8, static_cast<uint32_t>(nameAt));
    Set32(file, records + 16 + 12, static_cast<uint32_t>(name.size()));
  }
  return file;
}

std::vector<uint8_t> YaHeiLikeCollection() {
  return Collection({
      {{3, 1, u"Microsoft YaHei UI", ""}, {3, 4, u"Microsoft YaHei UI", ""}},
      {{3, 1, u"Microsoft YaHei", ""}, {3, 1, u"\u5fae\u8f6f\u96c5\u9ed1", ""}, {1, 1, u"", "Microsoft YaHei"}},
      {{3, 16, u"Sim\U00020000", ""}},
  });
}

// GDI names the face it chose in whatever language; the collection holds several faces.
TEST(FontCollection, FindsTheFaceByAnyOfItsNames) {
  const std::vector<uint8_t> file = YaHeiLikeCollection();
  EXPECT_EQ(CollectionFaceIndex(file, "Microsoft YaHei UI"), 0);
  EXPECT_EQ(CollectionFaceIndex(file, "Microsoft YaHei"), 1);
  EXPECT_EQ(CollectionFaceIndex(file, "microsoft yahei"), 1);
  EXPECT_EQ(CollectionFaceIndex(file, "微软雅黑"), 1);
  EXPECT_EQ(CollectionFaceIndex(file, "Sim\xF0\xA0\x80\x80"), 2);  // beyond the BMP: a surrogate pair
  EXPECT_EQ(CollectionFaceIndex(file, "Microsoft"), -1);            // whole names only
  EXPECT_EQ(CollectionFaceIndex(file, "SimSun"), -1);
}

TEST(FontCollection, RefusesWhatIsNoCollectionAndSurvivesBrokenOnes) {
  std::vector<uint8_t> file = YaHeiLikeCollection();
  std::vector<uint8_t> single = file;
  single[0] = 0x00;  // a plain font file starts with its version, not 'ttcf'
  single[1] = 0x01;
  EXPECT_EQ(CollectionFaceIndex(single, "Microsoft YaHei"), -1);
  EXPECT_EQ(CollectionFaceIndex({}, "Microsoft YaHei"), -1);
  // Every cut of the file: never a read past its end (the sanitizer builds watch), and a
  // face is found only once its name record is whole.
  for (size_t size = 0; size < file.size(); ++size) {
    const int index = CollectionFaceIndex(std::span<const uint8_t>(file.data(), size), "Microsoft YaHei");
    EXPECT_TRUE(index == -1 || index == 1) << size;
  }
  // Offsets and counts that point anywhere.
  std::vector<uint8_t> wild = file;
  Set32(wild, 8, 0xFFFFFFFFu);
  EXPECT_EQ(CollectionFaceIndex(wild, "nothing"), -1);
  wild = file;
  Set32(wild, 12, 0xFFFFFFF0u);
  EXPECT_EQ(CollectionFaceIndex(wild, "Microsoft YaHei UI"), -1);
  EXPECT_EQ(CollectionFaceIndex(wild, "Microsoft YaHei"), 1);
}

}  // namespace
}  // namespace orrin
