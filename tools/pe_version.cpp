#include "tools/pe_version.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kVersionResourceType = 16;
constexpr uint32_t kSubdirectoryBit = 0x80000000u;
constexpr uint32_t kMaxSections = 96;  // the PE format's own limit

uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(U16(b, at)) | static_cast<uint32_t>(U16(b, at + 2)) << 16;
}

struct Section {
  uint32_t address, virtualSize, rawSize, rawOffset;
};

// The parts of an executable needed to follow relative virtual addresses.
struct PeImage {
  std::ifstream file;
  std::vector<Section> sections;
  uint32_t resourceRva = 0, resourceSize = 0;
};

bool ReadAt(std::ifstream& file, uint64_t offset, size_t size, std::vector<uint8_t>* out) {
  out->assign(size, 0);
  file.clear();
  file.seekg(static_cast<std::streamoff>(offset));
  file.read(reinterpret_cast<char*>(out->data()), static_cast<std::streamsize>(size));
  return static_cast<size_t>(file.gcount()) == size;
}

// `size` bytes at a relative virtual address, when one section's file data holds them all.
bool ReadRva(PeImage& image, uint32_t rva, uint32_t size, std::vector<uint8_t>* out) {
  for (const Section& s : image.sections) {
    const uint32_t extent = s.virtualSize != 0 && s.virtualSize < s.rawSize ? s.virtualSize : s.rawSize;
    if (rva >= s.address && rva - s.address <= extent && size <= extent - (rva - s.address))
      return ReadAt(image.file, static_cast<uint64_t>(s.rawOffset) + (rva - s.address), size, out);
  }
  return false;
}

bool OpenPe(PeImage& image, std::string* why) {
  std::vector<uint8_t> dos, head;
  if (!ReadAt(image.file, 0, 64, &dos) || dos[0] != 'M' || dos[1] != 'Z') return *why = "no PE image", false;
  const uint32_t pe = U32(dos, 60);
  if (!ReadAt(image.file, pe, 24, &head) || memcmp(head.data(), "PE\0\0", 4) != 0)
    return *why = "no PE image", false;
  const uint16_t sectionCount = U16(head, 6), optionalSize = U16(head, 20);
  std::vector<uint8_t> optional;
  if (sectionCount > kMaxSections || !ReadAt(image.file, pe + 24, optionalSize, &optional) ||
      optionalSize < 2)
    return *why = "a damaged PE header", false;
  // PE32 and PE32+ differ in where the data directories begin.
  const uint16_t magic = U16(optional, 0);
  const size_t countAt = magic == 0x20B ? 108 : magic == 0x10B ? 92 : 0;
  if (countAt == 0 || optionalSize < countAt + 4) return *why = "a damaged PE header", false;
  const uint32_t directories = U32(optional, countAt);
  const size_t entryAt = countAt + 4 + 8 * kResourceDirectoryIndex;
  if (directories > kResourceDirectoryIndex && entryAt + 8 <= optionalSize) {
    image.resourceRva = U32(optional, entryAt);
    image.resourceSize = U32(optional, entryAt + 4);
  }
  std::vector<uint8_t> table;
  if (!ReadAt(image.file, static_cast<uint64_t>(pe) + 24 + optionalSize, 40u * sectionCount, &table))
    return *why = "a damaged section table", false;
  for (uint32_t i = 0; i < sectionCount; ++i)
    image.sections.push_back(Section{U32(table, 40 * i + 12), U32(table, 40 * i + 8), U32(table, 40 * i + 16),
                                     U32(table, 40 * i + 20)});
  return true;
}

// Follows the resource tree: type 16, then the first name and the first
// language below it, to the version block's bytes.
bool FindVersionResource(PeImage& image, std::vector<uint8_t>* block) {
  if (image.resourceRva == 0 || image.resourceSize < 16) return false;
  std::vector<uint8_t> tree;
  if (!ReadRva(image, image.resourceRva, image.resourceSize, &tree)) return false;
  uint32_t directory = 0;
  for (int level = 0; level < 3; ++level) {
    if (directory > tree.size() - 16) return false;
    const uint32_t named = U16(tree, directory + 12), ids = U16(tree, directory + 14);
    uint32_t next = 0;
    bool found = false;
    for (uint32_t i = 0; i < named + ids && !found; ++i) {
      const size_t entry = directory + 16 + 8 * static_cast<size_t>(i);
      if (entry + 8 > tree.size()) return false;
      const uint32_t name = U32(tree, entry);
      // At the top only the version type counts; below it, the first entry.
      if (level == 0 && name != kVersionResourceType) continue;
      next = U32(tree, entry + 4);
      found = true;
    }
    if (!found) return false;
    const bool subdirectory = (next & kSubdirectoryBit) != 0;
    if (subdirectory != (level < 2)) return false;
    directory = next & ~kSubdirectoryBit;
  }
  if (directory > tree.size() - 16) return false;
  return ReadRva(image, U32(tree, directory), U32(tree, directory + 4), block);
}

// One node of the version block: length, value length, type, key, value, children.
struct Node {
  size_t end = 0, value = 0, children = 0;
  std::u16string key;
};

size_t Align4(size_t at) { return (at + 3) & ~static_cast<size_t>(3); }

bool ReadNode(const std::vector<uint8_t>& b, size_t at, size_t limit, Node* node) {
  if (at + 6 > limit) return false;
  const size_t length = U16(b, at);
  if (length < 6 || length > limit - at) return false;
  node->end = at + length;
  const size_t valueLength = U16(b, at + 2), type = U16(b, at + 4);
  node->key.clear();
  size_t p = at + 6;
  for (; p + 2 <= node->end && U16(b, p) != 0; p += 2) node->key.push_back(static_cast<char16_t>(U16(b, p)));
  node->value = Align4(p + 2);
  const size_t valueBytes = type == 1 ? 2 * valueLength : valueLength;
  node->children = Align4(node->value + valueBytes);
  if (node->value > node->end) node->value = node->end;
  if (node->children > node->end) node->children = node->end;
  return true;
}

std::string Utf8(const std::vector<uint8_t>& b, size_t from, size_t end) {
  std::string out;
  for (size_t p = from; p + 2 <= end; p += 2) {
    uint32_t c = U16(b, p);
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00 && p + 4 <= end && U16(b, p + 2) >= 0xDC00 && U16(b, p + 2) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (U16(b, p + 2) - 0xDC00);
      p += 2;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Visits the children of `parent` in order; stops when `visit` returns true.
template <typename Visit>
bool EachChild(const std::vector<uint8_t>& b, const Node& parent, Visit visit) {
  Node child;
  for (size_t at = parent.children; at < parent.end; at = Align4(child.end)) {
    if (!ReadNode(b, at, parent.end, &child)) return false;
    if (visit(child)) return true;
  }
  return false;
}

}  // namespace

bool ReadProductVersion(const std::filesystem::path& exe, std::string* version, std::string* error) {
  PeImage image;
  image.file.open(exe, std::ios::binary);
  if (!image.file) {
    *error = "cannot read " + exe.string();
    return false;
  }
  std::string why;
  if (!OpenPe(image, &why)) {
    *error = exe.string() + " is not a Windows executable (" + why + ")";
    return false;
  }
  std::vector<uint8_t> block;
  Node root;
  if (!FindVersionResource(image, &block) || !ReadNode(block, 0, block.size(), &root) ||
      root.key != u"VS_VERSION_INFO") {
    *error = exe.string() + " has no version block: give the version with --version";
    return false;
  }
  bool found = EachChild(block, root, [&](const Node& info) {
    return info.key == u"StringFileInfo" && EachChild(block, info, [&](const Node& table) {
             return EachChild(block, table, [&](const Node& text) {
               if (text.key != u"ProductVersion") return false;
               *version = Utf8(block, text.value, text.end);
               return true;
             });
           });
  });
  if (!found || version->empty()) {
    *error = exe.string() + "'s version block has no product version: give the version with --version";
    return false;
  }
  return true;
}
