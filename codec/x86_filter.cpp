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

// First position >= i (or end) that starts an instruction the translation
// acts on: one that passes every opcode check below (an E9 jump, too, whose
// operand is skipped). Most bytes that merely look like an opcode (REX
// prefixes, FF, E8 in data) are passed over sixteen at a time. The vector
// loads reach 2 bytes past a block, within the 16 bytes the caller provides.
inline int32_t SkipToCandidate(const uint8_t* data, int32_t i, int32_t end, const uint8_t* starts) {
#if defined(__SSE2__)
  const __m128i k05 = _mm_set1_epi8(0x05), k07 = _mm_set1_epi8(0x07), k15 = _mm_set1_epi8(0x15),
                k48 = _mm_set1_epi8(0x48), k4C = _mm_set1_epi8(0x4C),
                k83 = _mm_set1_epi8(static_cast<char>(0x83)), k8B = _mm_set1_epi8(static_cast<char>(0x8B)),
                k8D = _mm_set1_epi8(static_cast<char>(0x8D)), kE8 = _mm_set1_epi8(static_cast<char>(0xE8)),
                kF0 = _mm_set1_epi8(static_cast<char>(0xF0)), kF7 = _mm_set1_epi8(static_cast<char>(0xF7)),
                kFE = _mm_set1_epi8(static_cast<char>(0xFE)), kFF = _mm_set1_epi8(static_cast<char>(0xFF)),
                k04 = _mm_set1_epi8(0x04);
  while (i + 16 <= end) {
    const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    // Blocks without a single opcode byte (most of non-code data) are
    // passed over on a first, cheaper look.
    const __m128i opcode = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(_mm_and_si128(v0, kFE), kE8), _mm_cmpeq_epi8(_mm_or_si128(v0, k04), k4C)),
        _mm_or_si128(_mm_cmpeq_epi8(v0, kF0), _mm_cmpeq_epi8(v0, kFF)));
    if (!_mm_movemask_epi8(opcode)) {
      i += 16;
      continue;
    }
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1));
    const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 2));
    // E8 call and E9 jmp differ in the low bit only.
    const __m128i call = _mm_cmpeq_epi8(_mm_and_si128(v0, kFE), kE8);
    const __m128i callIndirect = _mm_and_si128(_mm_cmpeq_epi8(v0, kFF), _mm_cmpeq_epi8(v1, k15));
    const __m128i lockAdd = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(v0, kF0), _mm_cmpeq_epi8(v1, k83)),
                                          _mm_cmpeq_epi8(v2, k05));
    // lea: 48 or 4C (they differ in bit 2), 8D, ModRM with rm == 5.
    const __m128i ripModRm = _mm_cmpeq_epi8(_mm_and_si128(v2, k07), k05);
    const __m128i lea = _mm_and_si128(
        _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(v0, k04), k4C), _mm_cmpeq_epi8(v1, k8D)), ripModRm);
    // mov: 48 8B, ModRM 05 or 0D (rm == 5 and below 0x10).
    const __m128i mov = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(v0, k48), _mm_cmpeq_epi8(v1, k8B)),
                                      _mm_cmpeq_epi8(_mm_and_si128(v2, kF7), k05));
    const __m128i hit =
        _mm_or_si128(_mm_or_si128(call, callIndirect), _mm_or_si128(lockAdd, _mm_or_si128(lea, mov)));
    const int mask = _mm_movemask_epi8(hit);
    if (mask) return i + __builtin_ctz(static_cast<unsigned>(mask));
    i += 16;
  }
#endif
  while (i < end && !starts[data[i]]) ++i;
  return i;
}

}  // namespace

namespace {

constexpr int32_t kMaxDistance = 1023, kIdWindow = 65535;

// Bytes that can start a considered instruction.
constexpr auto kStarts = [] {
  std::array<uint8_t, 256> t{};
  t[0x48] = t[0x4C] = t[0xE8] = t[0xE9] = t[0xF0] = t[0xFF] = 1;
  return t;
}();

// The translation loop over instruction starts i in [*next, stop). window[k]
// is the byte at position base + k and must hold everything up to stop + 16:
// an instruction reads at most 7 bytes from its start, the scan 16. Stopping
// anywhere and going on later with the same state gives the same bytes as
// one pass, which lets a consumer finish bytes while later ones still decode.
void Translate(uint8_t* window, int32_t base, int32_t* next, int32_t* lastX86, int32_t* lastUse, int32_t stop,
               bool undo) {
  int32_t i = *next, x86 = *lastX86;
  while (i < stop) {
    const uint8_t* p = window + (i - base);
    if (!kStarts[p[0]]) {
      i = base + SkipToCandidate(window, i - base + 1, stop - base, kStarts.data());
      continue;
    }
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
    uint8_t* operand = window + (i - base) + opcodeBytes;
    uint32_t value =
        operand[0] | operand[1] << 8 | operand[2] << 16 | static_cast<uint32_t>(operand[3]) << 24;
    const bool translate = i - x86 <= maxDistance;
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
    if (last - lastUse[target] <= kIdWindow) x86 = last;
    lastUse[target] = last;
    i += opcodeBytes + 4;
  }
  *next = i;
  *lastX86 = x86;
}

}  // namespace

void X86Filter(uint8_t* data, size_t size, int32_t* lastUse, bool undo) {
  if (size <= kX86MinSize) return;
  for (unsigned i = 0; i < 65536; ++i) lastUse[i] = -kIdWindow - 1;
  int32_t next = 1, lastX86 = -kMaxDistance - 1;
  Translate(data, 0, &next, &lastX86, lastUse, static_cast<int32_t>(size - 16), undo);
}

void X86Begin(X86State* s, size_t size) {
  s->next = 1;
  s->lastX86 = -kMaxDistance - 1;
  s->end = size <= kX86MinSize ? 0 : static_cast<int32_t>(size - 16);
  for (unsigned i = 0; i < 65536; ++i) s->lastUse[i] = -kIdWindow - 1;
}

void X86Step(X86State* s, uint8_t* window, int32_t base, int32_t stop, bool undo) {
  Translate(window, base, &s->next, &s->lastX86, s->lastUse, stop < s->end ? stop : s->end, undo);
}

}  // namespace lzms
