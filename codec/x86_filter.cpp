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
#include <array>

#include "codec/format.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

namespace lzms {
namespace {

constexpr int32_t kMaxDistance = 1023, kIdWindow = 65535;

inline uint32_t Load32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline void Store32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Whether p starts an instruction the translation acts on: one of the table
// above (an E9 jump, too, whose operand is skipped).
inline bool IsInstruction(const uint8_t* p) {
  switch (p[0]) {
    case 0xE8:
    case 0xE9:
      return true;
    case 0xFF:
      return p[1] == 0x15;
    case 0xF0:
      return p[1] == 0x83 && p[2] == 0x05;
    case 0x48:
    case 0x4C:
      return (p[2] & 0x07) == 0x05 && (p[1] == 0x8D || (p[1] == 0x8B && p[0] == 0x48 && p[2] < 0x10));
    default:
      return false;
  }
}

// Per opcode byte: opcode bytes before the operand, and the largest distance
// from the last x86-looking position at which the operand is translated.
// The E9 jump is never translated (no distance is 0 or less) and leaves the
// tracking as it was.
struct Opcode {
  uint8_t bytes;
  int16_t maxDistance;
};
constexpr auto kOpcodes = [] {
  std::array<Opcode, 256> t{};
  t[0xE8] = {1, kMaxDistance >> 1};
  t[0xE9] = {1, 0};
  t[0xFF] = {2, kMaxDistance};
  t[0xF0] = t[0x48] = t[0x4C] = {3, kMaxDistance};
  return t;
}();

// The instruction at p, at position i, found by IsInstruction: its operand
// translated and the tracking updated. Returns its length.
//
// Nothing here branches: the instructions come at random among other bytes,
// and their kinds in no order a predictor would learn. Its own translation
// depends on the tracking of the instruction before, and (when undoing) its
// target on its own translation, and the tracking on the table entry of that
// target: one chain from instruction to instruction, through a load from a
// table larger than the first-level cache. So both entries it could need are
// loaded before the decision is known, and the decision picks one.
template <bool kUndo>
inline __attribute__((always_inline)) int32_t Apply(uint8_t* p, int32_t i, int32_t* x86, int32_t* lastUse) {
  const Opcode op = kOpcodes[p[0]];
  const bool jump = p[0] == 0xE9;
  uint8_t* operand = p + op.bytes;
  const uint32_t value = Load32(operand);
  const uint32_t here = static_cast<uint32_t>(i);
  const bool translate = i - *x86 <= op.maxDistance;
  Store32(operand, translate ? (kUndo ? value - here : value + here) : value);
  // The target is position + relative operand. Translated, the operand
  // holds the target itself (undoing) or becomes it (translating).
  uint16_t target;
  int32_t seen;
  if (kUndo) {
    const uint16_t absolute = static_cast<uint16_t>(value), relative = static_cast<uint16_t>(value + here);
    int32_t seenAbsolute = lastUse[absolute], seenRelative = lastUse[relative];
#if defined(__GNUC__)
    // Left to itself, the compiler picks the address and loads once.
    __asm__("" : "+r"(seenAbsolute), "+r"(seenRelative));
#endif
    target = translate ? absolute : relative;
    seen = translate ? seenAbsolute : seenRelative;
  } else {
    target = static_cast<uint16_t>(value + here);
    seen = lastUse[target];
  }
  const int32_t last = i + op.bytes + 3;
  *x86 = last - seen <= kIdWindow && !jump ? last : *x86;
  lastUse[target] = jump ? seen : last;
  return op.bytes + 4;
}

#if defined(__SSE2__)
// Bit k set where p + k starts an instruction (IsInstruction), k < 16. Reads
// p[0..17].
inline unsigned InstructionMask(const uint8_t* p) {
  const __m128i k05 = _mm_set1_epi8(0x05), k07 = _mm_set1_epi8(0x07), k15 = _mm_set1_epi8(0x15),
                k48 = _mm_set1_epi8(0x48), k4C = _mm_set1_epi8(0x4C),
                k83 = _mm_set1_epi8(static_cast<char>(0x83)), k8B = _mm_set1_epi8(static_cast<char>(0x8B)),
                k8D = _mm_set1_epi8(static_cast<char>(0x8D)), kE8 = _mm_set1_epi8(static_cast<char>(0xE8)),
                kF0 = _mm_set1_epi8(static_cast<char>(0xF0)), kF7 = _mm_set1_epi8(static_cast<char>(0xF7)),
                kFE = _mm_set1_epi8(static_cast<char>(0xFE)), kFF = _mm_set1_epi8(static_cast<char>(0xFF)),
                k04 = _mm_set1_epi8(0x04);
  const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
  const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
  // E8 call and E9 jmp differ in the low bit only.
  const __m128i call = _mm_cmpeq_epi8(_mm_and_si128(v0, kFE), kE8);
  const __m128i callIndirect = _mm_and_si128(_mm_cmpeq_epi8(v0, kFF), _mm_cmpeq_epi8(v1, k15));
  const __m128i lockAdd =
      _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(v0, kF0), _mm_cmpeq_epi8(v1, k83)), _mm_cmpeq_epi8(v2, k05));
  // lea: 48 or 4C (they differ in bit 2), 8D, ModRM with rm == 5.
  const __m128i ripModRm = _mm_cmpeq_epi8(_mm_and_si128(v2, k07), k05);
  const __m128i lea = _mm_and_si128(
      _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(v0, k04), k4C), _mm_cmpeq_epi8(v1, k8D)), ripModRm);
  // mov: 48 8B, ModRM 05 or 0D (rm == 5 and below 0x10).
  const __m128i mov = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(v0, k48), _mm_cmpeq_epi8(v1, k8B)),
                                    _mm_cmpeq_epi8(_mm_and_si128(v2, kF7), k05));
  const __m128i hit =
      _mm_or_si128(_mm_or_si128(call, callIndirect), _mm_or_si128(lockAdd, _mm_or_si128(lea, mov)));
  return static_cast<unsigned>(_mm_movemask_epi8(hit));
}

// Whether any of the 64 positions from p could start an instruction, on a
// cheaper look (a REX prefix counts only before 8B or 8D, or 89 or 8F): most
// of data that is not code has none. Reads p[0..64].
inline bool AnyOpcode(const uint8_t* p) {
  const __m128i k04 = _mm_set1_epi8(0x04), k06 = _mm_set1_epi8(0x06), k4C = _mm_set1_epi8(0x4C),
                k8F = _mm_set1_epi8(static_cast<char>(0x8F)), kE8 = _mm_set1_epi8(static_cast<char>(0xE8)),
                kF0 = _mm_set1_epi8(static_cast<char>(0xF0)), kFE = _mm_set1_epi8(static_cast<char>(0xFE)),
                kFF = _mm_set1_epi8(static_cast<char>(0xFF));
  __m128i any = _mm_setzero_si128();
  for (int block = 0; block < 64; block += 16) {
    const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + block));
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + block + 1));
    const __m128i rex =
        _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(v0, k04), k4C), _mm_cmpeq_epi8(_mm_or_si128(v1, k06), k8F));
    any = _mm_or_si128(any, _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(_mm_and_si128(v0, kFE), kE8), rex),
                                         _mm_or_si128(_mm_cmpeq_epi8(v0, kF0), _mm_cmpeq_epi8(v0, kFF))));
  }
  return _mm_movemask_epi8(any) != 0;
}
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LZMS_X86_AVX2 1
// The same looks 32 positions at a time, for processors that have AVX2.
__attribute__((target("avx2"))) inline unsigned InstructionMask32(const uint8_t* p) {
  const __m256i k05 = _mm256_set1_epi8(0x05), k07 = _mm256_set1_epi8(0x07), k15 = _mm256_set1_epi8(0x15),
                k48 = _mm256_set1_epi8(0x48), k4C = _mm256_set1_epi8(0x4C),
                k83 = _mm256_set1_epi8(static_cast<char>(0x83)),
                k8B = _mm256_set1_epi8(static_cast<char>(0x8B)),
                k8D = _mm256_set1_epi8(static_cast<char>(0x8D)),
                kE8 = _mm256_set1_epi8(static_cast<char>(0xE8)),
                kF0 = _mm256_set1_epi8(static_cast<char>(0xF0)),
                kF7 = _mm256_set1_epi8(static_cast<char>(0xF7)),
                kFE = _mm256_set1_epi8(static_cast<char>(0xFE)),
                kFF = _mm256_set1_epi8(static_cast<char>(0xFF)), k04 = _mm256_set1_epi8(0x04);
  const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
  const __m256i v2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2));
  const __m256i call = _mm256_cmpeq_epi8(_mm256_and_si256(v0, kFE), kE8);
  const __m256i callIndirect = _mm256_and_si256(_mm256_cmpeq_epi8(v0, kFF), _mm256_cmpeq_epi8(v1, k15));
  const __m256i lockAdd = _mm256_and_si256(
      _mm256_and_si256(_mm256_cmpeq_epi8(v0, kF0), _mm256_cmpeq_epi8(v1, k83)), _mm256_cmpeq_epi8(v2, k05));
  const __m256i ripModRm = _mm256_cmpeq_epi8(_mm256_and_si256(v2, k07), k05);
  const __m256i lea = _mm256_and_si256(
      _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(v0, k04), k4C), _mm256_cmpeq_epi8(v1, k8D)),
      ripModRm);
  const __m256i mov =
      _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(v0, k48), _mm256_cmpeq_epi8(v1, k8B)),
                       _mm256_cmpeq_epi8(_mm256_and_si256(v2, kF7), k05));
  const __m256i hit = _mm256_or_si256(_mm256_or_si256(call, callIndirect),
                                      _mm256_or_si256(lockAdd, _mm256_or_si256(lea, mov)));
  return static_cast<unsigned>(_mm256_movemask_epi8(hit));
}

__attribute__((target("avx2"))) inline bool AnyOpcode32(const uint8_t* p) {
  const __m256i k04 = _mm256_set1_epi8(0x04), k06 = _mm256_set1_epi8(0x06), k4C = _mm256_set1_epi8(0x4C),
                k8F = _mm256_set1_epi8(static_cast<char>(0x8F)),
                kE8 = _mm256_set1_epi8(static_cast<char>(0xE8)),
                kF0 = _mm256_set1_epi8(static_cast<char>(0xF0)),
                kFE = _mm256_set1_epi8(static_cast<char>(0xFE)),
                kFF = _mm256_set1_epi8(static_cast<char>(0xFF));
  __m256i any = _mm256_setzero_si256();
  for (int block = 0; block < 64; block += 32) {
    const __m256i v0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + block));
    const __m256i v1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + block + 1));
    const __m256i rex = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(v0, k04), k4C),
                                         _mm256_cmpeq_epi8(_mm256_or_si256(v1, k06), k8F));
    any = _mm256_or_si256(
        any, _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(_mm256_and_si256(v0, kFE), kE8), rex),
                             _mm256_or_si256(_mm256_cmpeq_epi8(v0, kF0), _mm256_cmpeq_epi8(v0, kFF))));
  }
  return _mm256_movemask_epi8(any) != 0;
}
#endif

#if defined(__SSE2__)
// Blocks of 16 positions, and the instructions that start in them.
constexpr int32_t kBlocks = 1024;
struct Noted {
  int32_t at;
  uint32_t mask;
};

// The blocks from b on, one at a time: what a wider scan leaves over.
inline int32_t NoteRest(const uint8_t* window, int32_t j, int32_t b, int32_t blocks, int32_t count,
                        Noted* noted) {
  for (; b < blocks; ++b) {
    const int32_t at = j + 16 * b;
    const unsigned mask = InstructionMask(window + at);
    noted[count] = {at, mask};
    count += mask != 0;
  }
  return count;
}

// Notes the blocks among `blocks` from window + j that have instructions,
// without a branch per block: even in code, most blocks have none, and which
// ones do is anybody's guess. When `sparse`, it first takes a cheaper look at
// 64 bytes at a time for any byte that could start one. Returns how many it
// noted.
inline int32_t NoteBlocks(const uint8_t* window, int32_t j, int32_t blocks, bool sparse, Noted* noted) {
  int32_t count = 0, b = 0;
  if (sparse) {
    for (; b + 4 <= blocks; b += 4) {
      const int32_t at = j + 16 * b;
      if (!AnyOpcode(window + at)) continue;
      for (int32_t k = 0; k < 4; ++k) {
        const unsigned mask = InstructionMask(window + at + 16 * k);
        noted[count] = {at + 16 * k, mask};
        count += mask != 0;
      }
    }
  }
  return NoteRest(window, j, b, blocks, count, noted);
}

#if defined(LZMS_X86_AVX2)
// NoteBlocks two blocks at a time.
__attribute__((target("avx2"))) int32_t NoteBlocksAvx2(const uint8_t* window, int32_t j, int32_t blocks,
                                                       bool sparse, Noted* noted) {
  int32_t count = 0, b = 0;
  for (; b + 4 <= blocks; b += sparse ? 4 : 2) {
    const int32_t at = j + 16 * b;
    if (sparse && !AnyOpcode32(window + at)) continue;
    for (int32_t k = 0; k < (sparse ? 4 : 2); k += 2) {
      const unsigned mask = InstructionMask32(window + at + 16 * k);
      noted[count] = {at + 16 * k, mask & 0xFFFF};
      count += (mask & 0xFFFF) != 0;
      noted[count] = {at + 16 * k + 16, mask >> 16};
      count += (mask >> 16) != 0;
    }
  }
  return NoteRest(window, j, b, blocks, count, noted);
}

bool wideScan = true;  // X86SetWideScan

bool UseAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has && wideScan;
}
#endif
#endif

// The translation loop over instruction starts i in [*next, stop). window[k]
// is the byte at position base + k and must hold everything up to stop + 16:
// an instruction reads at most 7 bytes from its start, the scan 18. Stopping
// anywhere and going on later with the same state gives the same bytes as
// one pass, which lets a consumer finish bytes while later ones still decode.
template <bool kUndo>
void Translate(uint8_t* window, int32_t base, int32_t* next, int32_t* lastX86, int32_t* lastUse,
               int32_t stop) {
  int32_t j = *next - base, x86 = *lastX86;  // j: offset in the window
  const int32_t end = stop - base;
#if defined(__SSE2__)
  // In two steps per stretch of up to kBlocks blocks: note the blocks with
  // instructions (NoteBlocks), then take the instructions of the noted
  // blocks one after the other, each hiding the starts inside it. Where the
  // last stretch had next to no instructions (data that is not code), the
  // next is looked at sparsely.
  Noted noted[kBlocks];
  bool sparse = true;
#if defined(LZMS_X86_AVX2)
  const bool avx2 = UseAvx2();
#endif
  while (j + 16 <= end) {
    const int32_t blocks = (end - j) / 16 < kBlocks ? (end - j) / 16 : kBlocks;
#if defined(LZMS_X86_AVX2)
    const int32_t count = avx2 ? NoteBlocksAvx2(window, j, blocks, sparse, noted)
                               : NoteBlocks(window, j, blocks, sparse, noted);
#else
    const int32_t count = NoteBlocks(window, j, blocks, sparse, noted);
#endif
    sparse = count * 64 < blocks;
    int32_t resume = j;
    for (int32_t n = 0; n < count; ++n) {
      const int32_t at = noted[n].at;
      uint32_t mask = noted[n].mask;
      if (resume > at) mask = resume - at >= 16 ? 0 : mask & (~0u << (resume - at));
      while (mask) {
        const int32_t k = at + __builtin_ctz(mask);
        resume = k + Apply<kUndo>(window + k, base + k, &x86, lastUse);
        mask = resume - at >= 16 ? 0 : mask & (~0u << (resume - at));
      }
    }
    j += 16 * blocks;
    if (resume > j) j = resume;
  }
#endif
  while (j < end) {
    if (IsInstruction(window + j))
      j += Apply<kUndo>(window + j, base + j, &x86, lastUse);
    else
      ++j;
  }
  *next = base + j;
  *lastX86 = x86;
}

}  // namespace

bool X86SetWideScan(bool wide) {
#if defined(LZMS_X86_AVX2)
  const bool was = wideScan;
  wideScan = wide;
  return was;
#else
  (void)wide;
  return false;
#endif
}

void X86Filter(uint8_t* data, size_t size, int32_t* lastUse, bool undo) {
  if (size <= kX86MinSize) return;
  for (unsigned i = 0; i < 65536; ++i) lastUse[i] = -kIdWindow - 1;
  int32_t next = 1, lastX86 = -kMaxDistance - 1;
  if (undo)
    Translate<true>(data, 0, &next, &lastX86, lastUse, static_cast<int32_t>(size - 16));
  else
    Translate<false>(data, 0, &next, &lastX86, lastUse, static_cast<int32_t>(size - 16));
}

void X86Begin(X86State* s, size_t size) {
  s->next = 1;
  s->lastX86 = -kMaxDistance - 1;
  s->end = size <= kX86MinSize ? 0 : static_cast<int32_t>(size - 16);
  for (unsigned i = 0; i < 65536; ++i) s->lastUse[i] = -kIdWindow - 1;
}

void X86Step(X86State* s, uint8_t* window, int32_t base, int32_t stop, bool undo) {
  const int32_t end = stop < s->end ? stop : s->end;
  if (undo)
    Translate<true>(window, base, &s->next, &s->lastX86, s->lastUse, end);
  else
    Translate<false>(window, base, &s->next, &s->lastX86, s->lastUse, end);
}

}  // namespace lzms
