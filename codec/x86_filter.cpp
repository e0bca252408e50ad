// The x86 translation of LZMS.
//
// Relative operands of a few common x86-64 instructions are rewritten as
// absolute positions (operand + position of the instruction), which repeat far
// more often than relative ones. Because data need not be code, a translation
// is made only near a "likely x86" position: one where the low 16 bits of the
// target were already seen within the last 65535 bytes. Instructions considered
// (opcode at position i, 32-bit operand right after the opcode bytes):
//   E8             call rel32             translated if i - lastX86 <= 511
//   FF 15          call [rip+disp32]      translated if i - lastX86 <= 1023
//   F0 83 05       lock add [rip+disp32]  same
//   48|4C 8D m     lea r, [rip+disp32]    same, where (m & 7) == 5
//   48 8B m        mov r, [rip+disp32]    same, where (m & 7) == 5, m < 0x10
//   E9             jmp rel32              never translated, its operand skipped
// Whether translated or not, every instruction found updates the tracking with
// target16 = low 16 bits of (i + relative operand). The first byte and the last
// 16 bytes of the data never start an instruction.
#include "codec/format.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lzms {
namespace {

// First position >= i (or end) whose byte may start a considered instruction.
inline int32_t SkipToCandidate(const uint8_t* data, int32_t i, int32_t end, const uint8_t* starts) {
#if defined(__SSE2__)
  const __m128i k48 = _mm_set1_epi8(0x48), k4C = _mm_set1_epi8(0x4C),
                kE8 = _mm_set1_epi8(static_cast<char>(0xE8)), kF0 = _mm_set1_epi8(static_cast<char>(0xF0)),
                kFF = _mm_set1_epi8(static_cast<char>(0xFF));
  const __m128i kFE = _mm_set1_epi8(static_cast<char>(0xFE));
  while (i + 16 <= end) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    // E8 and E9 differ in the low bit only.
    const __m128i hit =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, k48), _mm_cmpeq_epi8(v, k4C)),
                     _mm_or_si128(_mm_cmpeq_epi8(_mm_and_si128(v, kFE), kE8),
                                  _mm_or_si128(_mm_cmpeq_epi8(v, kF0), _mm_cmpeq_epi8(v, kFF))));
    const int mask = _mm_movemask_epi8(hit);
    if (mask) return i + __builtin_ctz(static_cast<unsigned>(mask));
    i += 16;
  }
#endif
  while (i < end && !starts[data[i]]) ++i;
  return i;
}

}  // namespace

void X86Filter(uint8_t* data, size_t size, int32_t* lastUse, bool undo) {
  constexpr int32_t kMaxDistance = 1023, kIdWindow = 65535;
  if (size <= 17) return;
  for (unsigned i = 0; i < 65536; ++i) lastUse[i] = -kIdWindow - 1;
  int32_t lastX86 = -kMaxDistance - 1;
  const int32_t end = static_cast<int32_t>(size - 16);

  // Bytes that can start a considered instruction.
  static constexpr auto kStarts = [] {
    std::array<uint8_t, 256> t{};
    t[0x48] = t[0x4C] = t[0xE8] = t[0xE9] = t[0xF0] = t[0xFF] = 1;
    return t;
  }();
  for (int32_t i = 1; i < end;) {
    if (!kStarts[data[i]]) {
      i = SkipToCandidate(data, i + 1, end, kStarts.data());
      continue;
    }
    const uint8_t* p = data + i;
    int32_t opcodeBytes;
    int32_t maxDistance = kMaxDistance;
    switch (p[0]) {
      case 0xE8:
        opcodeBytes = 1;
        maxDistance >>= 1;
        break;
      case 0xE9:
        i += 5;
        continue;
      case 0xFF:
        if (p[1] != 0x15) {
          ++i;
          continue;
        }
        opcodeBytes = 2;
        break;
      case 0xF0:
        if (p[1] != 0x83 || p[2] != 0x05) {
          ++i;
          continue;
        }
        opcodeBytes = 3;
        break;
      case 0x48:
      case 0x4C:
        if ((p[2] & 0x07) != 0x05 || !(p[1] == 0x8D || (p[1] == 0x8B && p[0] == 0x48 && p[2] < 0x10))) {
          ++i;
          continue;
        }
        opcodeBytes = 3;
        break;
      default:
        ++i;
        continue;
    }
    uint8_t* operand = data + i + opcodeBytes;
    uint32_t value =
        operand[0] | operand[1] << 8 | operand[2] << 16 | static_cast<uint32_t>(operand[3]) << 24;
    const bool translate = i - lastX86 <= maxDistance;
    uint32_t relative = value;
    if (translate) {
      value = undo ? value - static_cast<uint32_t>(i) : value + static_cast<uint32_t>(i);
      if (undo) relative = value;
      operand[0] = static_cast<uint8_t>(value);
      operand[1] = static_cast<uint8_t>(value >> 8);
      operand[2] = static_cast<uint8_t>(value >> 16);
      operand[3] = static_cast<uint8_t>(value >> 24);
    }
    const uint16_t target = static_cast<uint16_t>(i + relative);
    const int32_t last = i + opcodeBytes + 3;
    if (last - lastUse[target] <= kIdWindow) lastX86 = last;
    lastUse[target] = last;
    i += opcodeBytes + 4;
  }
}

}  // namespace lzms
