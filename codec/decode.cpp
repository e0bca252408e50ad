// LZMS decoder (the format is described in format.h).
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/container.h"
#include "codec/decode_tables.h"
#include "codec/lzms.h"

namespace lzms {
namespace {

#define LZMS_INLINE inline __attribute__((always_inline))

inline uint32_t Load16(const uint8_t* p) { return p[0] | static_cast<uint32_t>(p[1]) << 8; }

LZMS_INLINE void Copy8(uint8_t* dst, const uint8_t* src) {
  uint64_t w;
  std::memcpy(&w, src, 8);
  std::memcpy(dst, &w, 8);
}

LZMS_INLINE void Copy16(uint8_t* dst, const uint8_t* src) {
  uint8_t block[16];
  std::memcpy(block, src, 16);
  std::memcpy(dst, block, 16);
}

// out[i] = far[i] + out[i - span] - far[i - span] for i < len. Each byte
// depends on the one a span back, and the distance is at least the span, so
// blocks of up to one span (16 bytes at most) are independent: they are done
// with bytewise vector adds, the rest byte by byte. Nothing is written past
// len, unless `slack` allows up to 15 bytes more: then the last block is
// whole, and there is no byte tail (whose exit is a mispredicted branch for
// the records of a few bytes that delta matches mostly copy).
LZMS_INLINE void CopyDelta(uint8_t* dst, const uint8_t* far, size_t span, uint32_t len, bool slack) {
  const uint8_t* dstBack = dst - span;
  const uint8_t* farBack = far - span;
  size_t i = 0;
#if defined(__SSE2__)
  if (span >= 16) {
    for (const size_t end = slack ? len + 15 : len; i + 16 <= end; i += 16) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(far + i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dstBack + i));
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(farBack + i));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_sub_epi8(_mm_add_epi8(a, b), c));
    }
  } else if (span >= 8) {
    for (const size_t end = slack ? len + 7 : len; i + 8 <= end; i += 8) {
      const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(far + i));
      const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(dstBack + i));
      const __m128i c = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(farBack + i));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + i), _mm_sub_epi8(_mm_add_epi8(a, b), c));
    }
  } else if (span == 4) {
    for (const size_t end = slack ? len + 3 : len; i + 4 <= end; i += 4) {
      uint32_t a, b, c;
      std::memcpy(&a, far + i, 4);
      std::memcpy(&b, dstBack + i, 4);
      std::memcpy(&c, farBack + i, 4);
      const uint32_t v = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_sub_epi8(
          _mm_add_epi8(_mm_cvtsi32_si128(static_cast<int>(a)), _mm_cvtsi32_si128(static_cast<int>(b))),
          _mm_cvtsi32_si128(static_cast<int>(c)))));
      std::memcpy(dst + i, &v, 4);
    }
  }
#endif
  for (; i < len; ++i) dst[i] = static_cast<uint8_t>(far[i] + dstBack[i] - farBack[i]);
}

#if defined(__SSE2__)
// The same for a span of at most 16 bytes, with 15 bytes of slack, and at
// least 16 bytes before far. out[i] - far[i] repeats with the span's period
// (it equals out[i - span] - far[i - span]), so it is taken once from the
// span before the match, spread over 16 bytes, and added to far block by
// block: no block waits for the one before it, unless the distance is below
// 16, where a block of `distance` bytes reads what the one before wrote.
// The distance is a multiple of the span, so the pattern stays in phase.
LZMS_INLINE void CopyDeltaPeriodic(uint8_t* dst, const uint8_t* far, size_t span, size_t distance,
                                   uint32_t len) {
  // The span before the match: its differences sit in the top `span` bytes.
  const __m128i before = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(dst - 16)),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(far - 16)));
  __m128i pattern;
  switch (span) {
    case 1:
      pattern = _mm_shuffle_epi32(_mm_shufflehi_epi16(_mm_unpackhi_epi8(before, before), 0xFF), 0xFF);
      break;
    case 2:
      pattern = _mm_shuffle_epi32(_mm_shufflehi_epi16(before, 0xFF), 0xFF);
      break;
    case 4:
      pattern = _mm_shuffle_epi32(before, 0xFF);
      break;
    case 8:
      pattern = _mm_unpackhi_epi64(before, before);
      break;
    default:
      pattern = before;
  }
  const size_t step = distance < 16 ? distance : 16;
  for (size_t i = 0; i < len; i += step) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(far + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_add_epi8(a, pattern));
  }
}
#endif

// A slot's base and extra bits in one word (extra << 32 | base): one load.
template <size_t N>
constexpr std::array<uint64_t, N> SlotEntries(const SlotTable<N>& t) {
  std::array<uint64_t, N> e{};
  for (size_t i = 0; i < N; ++i) e[i] = static_cast<uint64_t>(t.extra[i]) << 32 | t.base[i];
  return e;
}
constexpr auto kOffsetSlotEntries = SlotEntries(kOffsetSlots);
constexpr auto kLengthSlotEntries = SlotEntries(kLengthSlots);

// Range decoder over the front of the stream; past the end it reads zeros.
// It and the bit reader live in Run's locals, where the compiler keeps them in
// registers: as members of the heap Decoder, every byte written to the output
// (through a uint8_t pointer, which may alias anything) would force reloads.
struct RangeDecoder {
  uint32_t range = 0xFFFFFFFF;
  uint32_t code = 0;
  const uint8_t* next = nullptr;
  const uint8_t* end = nullptr;

  LZMS_INLINE unsigned Bit(Prob& prob, uint32_t& state, uint32_t stateMask) {
    if (range <= 0xFFFF) {
      range <<= 16;
      code <<= 16;
      if (next != end) {
        code |= Load16(next);
        next += 2;
      }
    }
    const uint32_t bound = (range >> kProbBits) * prob.Get();
    unsigned bit;
    if (code < bound) {
      range = bound;
      bit = 0;
    } else {
      range -= bound;
      code -= bound;
      bit = 1;
    }
    prob.Update(bit);
    state = ((state << 1) | bit) & stateMask;
    return bit;
  }
};

using OffsetCode = AdaptiveDecodeCode<10, kMaxOffsetSyms>;
using LengthCode = AdaptiveDecodeCode<9, kLengthSyms>;

// Bit reader over the back of the stream, last unit first, high bit first;
// before the first unit it reads zeros.
struct BackwardBits {
  uint64_t buf = 0;
  unsigned avail = 0;
  const uint8_t* begin = nullptr;
  const uint8_t* next = nullptr;  // one past the next unit to read

  // Afterwards at least 48 bits are buffered: one codeword plus 30 extra bits.
  // Away from the stream's start the refill has no branch of its own: it
  // always ors in the next eight bytes below the buffered bits and counts the
  // whole units that fitted. The bits of a unit that fitted only in part sit
  // below the counted ones; the next refill ors in that same unit at that
  // same place, so they never disturb anything.
  LZMS_INLINE void Refill() {
    if (__builtin_expect(next - begin >= 8, 1)) {
      uint64_t word;
      __builtin_memcpy(&word, next - 8, 8);
      buf |= word >> avail;  // avail < 64 here
      const unsigned units = (63 - avail) >> 4;
      avail += 16 * units;
      next -= 2 * units;
      return;
    }
    while (avail <= 48) {
      uint64_t unit = 0;
      if (next != begin) {
        next -= 2;
        unit = Load16(next);
      }
      buf |= unit << (48 - avail);
      avail += 16;
    }
  }
  LZMS_INLINE uint32_t Take(unsigned n) {  // n <= 32, and n bits buffered
    // Shifting by 64 - n in two steps keeps n == 0 well defined, branch-free.
    const uint32_t v = static_cast<uint32_t>((buf >> 1) >> (63 - n));
    buf <<= n;
    avail -= n;
    return v;
  }

  // Returns the symbol or -1 for a codeword outside a degenerate code. A
  // code whose count runs out is rebuilt by the caller before its next
  // symbol (no code is read twice within one item).
  template <class Code>
  LZMS_INLINE int Symbol(Code& c) {
    const int sym = Counted(c);
    --c.untilRebuild;
    return sym;
  }

  // Symbol, leaving the count to the rebuild to the caller.
  template <class Code>
  LZMS_INLINE int Counted(Code& c) {
    Refill();
    uint32_t entry = c.table[buf >> (64 - Code::kTableBits)];
    if (entry >= 0x8000) {
      if (Code::kMayBeDegenerate && entry == kInvalid) return -1;
      entry = c.table[Code::SubIndex(entry, buf)];
    }
    const unsigned sym = entry & 0x7FF;
    const unsigned len = entry >> 11;
    buf <<= len;
    avail -= len;
    c.freqs[sym]++;
    return static_cast<int>(sym);
  }

  // Offset or raw delta offset: slot, then extra bits. 0 means failure.
  LZMS_INLINE uint32_t Offset(OffsetCode& c) {
    const int slot = Symbol(c);
    if (slot < 0) return 0;
    const uint64_t entry = kOffsetSlotEntries[slot];
    return static_cast<uint32_t>(entry) + Take(static_cast<unsigned>(entry >> 32));
  }

  LZMS_INLINE uint32_t Length(LengthCode& c) {
    const int slot = Symbol(c);
    const uint64_t entry = kLengthSlotEntries[slot];
    return static_cast<uint32_t>(entry) + Take(static_cast<unsigned>(entry >> 32));
  }
};

struct Decoder {
  DecisionModels m;
  AdaptiveDecodeCode<10, kLiteralSyms> literal;
  OffsetCode lzOffset, deltaOffset;
  LengthCode length;
  AdaptiveDecodeCode<7, kPowerSyms> power;  // 8 symbols: no codeword is longer than 7 bits
  int32_t x86Scratch[65536];

  // Progress for a consumer on another thread (see LzmsBufferedDecode):
  // report(context, base + pos, base + need) every kReportEvery bytes, and
  // whenever an item would write beyond what the consumer gave.
  LzmsProgressFn report = nullptr;
  void* context = nullptr;
  size_t base = 0;

  // State the hot loop touches less often than its readers: kept here, in
  // memory, so that the range decoder, the bit reader and the position keep
  // their registers (with everything in locals the loop spills those).
  uint32_t matchState = 0, lzState = 0, deltaState = 0;
  uint32_t lzRepState0 = 0, lzRepState1 = 0, deltaRepState0 = 0, deltaRepState1 = 0;
  // Repeat queues; an item's own offset waits in `pending` until one more item
  // has been decoded (the decoder applies it lazily, at the next match of the
  // same kind, knowing whether anything came in between).
  uint32_t lzReps[kNumReps + 1] = {1, 2, 3, 4};
  uint32_t lzPending = 0;
  const uint8_t* lzPendingEnd = nullptr;
  uint64_t deltaReps[kNumReps + 1] = {1, 2, 3, 4};  // power << 32 | raw offset
  uint64_t deltaPending = 0;
  const uint8_t* deltaPendingEnd = nullptr;

  bool Run(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize, bool undoX86);

  // Rebuilds the match codes whose counts ran out.
  __attribute__((noinline)) void RebuildSpent() {
    if (lzOffset.untilRebuild == 0) lzOffset.Rebuild();
    if (deltaOffset.untilRebuild == 0) deltaOffset.Rebuild();
    if (length.untilRebuild == 0) length.Rebuild();
    if (power.untilRebuild == 0) power.Rebuild();
  }
};

constexpr size_t kReportEvery = 256 * 1024;

// The consumer's answer to a progress report: how far the decoder may write
// (0: stop) and where it reports next. Out of line and by value, so that the
// hot loop's positions never have their address taken.
struct Room {
  size_t end, nextReport;
};

__attribute__((noinline)) Room AskRoom(LzmsProgressFn report, void* context, size_t base, size_t pos,
                                       size_t need, size_t outSize) {
  const size_t given = report(context, base + pos, base + need);
  if (given < base + need) return Room{0, 0};  // 0: the consumer stops us
  const size_t end = given - base < outSize ? given - base : outSize;
  return Room{end, pos + kReportEvery < end ? pos + kReportEvery : end};
}

bool Decoder::Run(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize, bool undoX86) {
  RangeDecoder rd;
  rd.code = Load16(in) << 16 | Load16(in + 2);
  rd.next = in + 4;
  rd.end = in + inSize;
  BackwardBits bits;
  bits.begin = in;
  bits.next = in + inSize;

  const unsigned offsetSlots = NumOffsetSlots(outSize);
  literal.Init(kLiteralSyms, kLiteralRebuild);
  lzOffset.Init(offsetSlots, kOffsetRebuild);
  length.Init(kLengthSyms, kLengthRebuild);
  deltaOffset.Init(offsetSlots, kOffsetRebuild);
  power.Init(kPowerSyms, kPowerRebuild);

  // The main decision's state is on every item's path: a local.
  uint32_t mainState = 0;
  uint32_t literalsLeft = kLiteralRebuild;

  // The next byte to write: a pointer, not an index, so that the output's
  // start is needed only to check offsets, off the literals' path.
  uint8_t* dst = out;
  uint8_t* const outEnd = out + outSize;
  // Bytes before dst never change again (until the x86 translation is undone).
  // Nothing is written at or beyond `room` before the consumer gives more: a
  // literal needs dst < stop, which stays <= room; a match checks its reach.
  // `stop` is where the next report is due, or the end (never beyond it).
  size_t room = report ? 0 : outSize;
  const uint8_t* stop = report ? out : outEnd;
  // A match that reaches beyond `room`: what it copies once the consumer
  // has given room (an LZ match has span 0 and its offset as distance).
  uint32_t askLen = 0;
  size_t askNeed = 0, askSpan = 0, askDistance = 0;
#define LZMS_ASK(need)                                                                              \
  do {                                                                                              \
    const Room r = AskRoom(report, context, base, static_cast<size_t>(dst - out), (need), outSize); \
    if (r.end == 0) return false;                                                                   \
    room = r.end;                                                                                   \
    stop = out + r.nextReport;                                                                      \
  } while (0)
  for (;;) {
    // The items, until something needs a call: a rebuild, a report or the
    // end, handled below, outside this loop. With those calls inside it, the
    // compiler kept fewer of the range decoder's, the bit reader's and the
    // output's values in registers on every path, the literals' too: about
    // 1 % slower overall, 2 to 4 % on text and the mixed archive.
    for (;;) {
      if (__builtin_expect(dst >= stop, 0)) goto edge;
      if (!rd.Bit(m.main[mainState], mainState, kMainStates - 1)) {
        // Literals come in runs: their count to the next rebuild lives in a
        // register (in memory, every literal would wait for the last one's).
        const int sym = bits.Counted(literal);
        *dst++ = static_cast<uint8_t>(sym);
        if (__builtin_expect(--literalsLeft == 0, 0)) goto rebuildLiterals;
        continue;
      }

      if (!rd.Bit(m.match[matchState], matchState, kMatchStates - 1)) {
        // LZ match.
        if (lzPending && dst != lzPendingEnd) {
          lzReps[3] = lzReps[2], lzReps[2] = lzReps[1], lzReps[1] = lzReps[0], lzReps[0] = lzPending;
          lzPending = 0;
        }
        uint32_t offset;
        if (!rd.Bit(m.lz[lzState], lzState, kOtherStates - 1)) {
          offset = bits.Offset(lzOffset);
          if (offset == 0) return false;
        } else if (!rd.Bit(m.lzRep[0][lzRepState0], lzRepState0, kOtherStates - 1)) {
          offset = lzReps[0];
          lzReps[0] = lzReps[1], lzReps[1] = lzReps[2], lzReps[2] = lzReps[3];
        } else if (!rd.Bit(m.lzRep[1][lzRepState1], lzRepState1, kOtherStates - 1)) {
          offset = lzReps[1];
          lzReps[1] = lzReps[2], lzReps[2] = lzReps[3];
        } else {
          offset = lzReps[2];
          lzReps[2] = lzReps[3];
        }
        if (lzPending)
          lzReps[3] = lzReps[2], lzReps[2] = lzReps[1], lzReps[1] = lzReps[0], lzReps[0] = lzPending;
        lzPending = offset;

        const uint32_t len = bits.Length(length);
        const size_t left = static_cast<size_t>(outEnd - dst), pos = static_cast<size_t>(dst - out);
        if (len == 0 || len > left || offset > pos) return false;
        // A copy may write whole blocks up to 32 bytes past its end.
        const size_t reach = left > len + 32 ? pos + len + 32 : outSize;
        if (__builtin_expect(reach > room, 0)) {
          askLen = len, askNeed = reach, askSpan = 0, askDistance = offset;
          goto ask;
        }
        const uint8_t* src = dst - offset;
        // Whole blocks (most matches are 32 bytes or shorter: two blocks, no
        // loop), writing up to a block past the end when there is room; the
        // source never overlaps what one block writes.
        if (offset >= 16 && left >= len + 32) {
          Copy16(dst, src);
          Copy16(dst + 16, src + 16);
          for (uint32_t i = 32; i < len; i += 16) Copy16(dst + i, src + i);
        } else if (offset >= 8 && left >= len + 8) {
          for (uint32_t i = 0; i < len; i += 8) Copy8(dst + i, src + i);
        } else {
          for (uint32_t i = 0; i < len; ++i) dst[i] = src[i];
        }
        dst += len;
        lzPendingEnd = dst;
        if (__builtin_expect((lzOffset.untilRebuild == 0) | (length.untilRebuild == 0), 0)) goto rebuild;
        continue;
      }

      // Delta match.
      if (deltaPending && dst != deltaPendingEnd) {
        deltaReps[3] = deltaReps[2], deltaReps[2] = deltaReps[1], deltaReps[1] = deltaReps[0];
        deltaReps[0] = deltaPending;
        deltaPending = 0;
      }
      uint64_t pair;
      if (!rd.Bit(m.delta[deltaState], deltaState, kOtherStates - 1)) {
        const int pw = bits.Symbol(power);
        const uint32_t raw = bits.Offset(deltaOffset);
        if (raw == 0) return false;
        pair = static_cast<uint64_t>(pw) << 32 | raw;
      } else if (!rd.Bit(m.deltaRep[0][deltaRepState0], deltaRepState0, kOtherStates - 1)) {
        pair = deltaReps[0];
        deltaReps[0] = deltaReps[1], deltaReps[1] = deltaReps[2], deltaReps[2] = deltaReps[3];
      } else if (!rd.Bit(m.deltaRep[1][deltaRepState1], deltaRepState1, kOtherStates - 1)) {
        pair = deltaReps[1];
        deltaReps[1] = deltaReps[2], deltaReps[2] = deltaReps[3];
      } else {
        pair = deltaReps[2];
        deltaReps[2] = deltaReps[3];
      }
      if (deltaPending) {
        deltaReps[3] = deltaReps[2], deltaReps[2] = deltaReps[1], deltaReps[1] = deltaReps[0];
        deltaReps[0] = deltaPending;
      }
      deltaPending = pair;

      const uint32_t len = bits.Length(length);
      const unsigned pw = static_cast<unsigned>(pair >> 32);
      const uint64_t span = uint64_t{1} << pw;
      const uint64_t distance = (pair & 0xFFFFFFFFu) << pw;
      const size_t pos = static_cast<size_t>(dst - out);
      if (len == 0 || len > static_cast<size_t>(outEnd - dst) || distance + span > pos) return false;
      if (__builtin_expect(pos + len > room, 0)) {
        askLen = len, askNeed = pos + len, askSpan = static_cast<size_t>(span);
        askDistance = static_cast<size_t>(distance);
        goto ask;
      }
      const uint8_t* far = dst - distance;
      // Up to 15 bytes past the match may be written when the consumer has
      // given them already (no further report for them).
      const bool slack = room - pos >= static_cast<size_t>(len) + 16;
#if defined(__SSE2__)
      if (span <= 16 && slack && pos >= distance + 16)
        CopyDeltaPeriodic(dst, far, static_cast<size_t>(span), static_cast<size_t>(distance), len);
      else
#endif
        CopyDelta(dst, far, static_cast<size_t>(span), len, slack);
      dst += len;
      deltaPendingEnd = dst;
      if (__builtin_expect(
              (power.untilRebuild == 0) | (deltaOffset.untilRebuild == 0) | (length.untilRebuild == 0), 0))
        goto rebuild;
    }

  edge:  // at a report, or at the end
    if (dst >= outEnd) break;
    LZMS_ASK(static_cast<size_t>(dst - out) + 1);
    continue;
  rebuildLiterals:
    literal.Rebuild();
    literalsLeft = kLiteralRebuild;
    continue;
  ask:  // a match reaching beyond the room given: ask, then copy it plainly
    LZMS_ASK(askNeed);
    if (askSpan == 0) {
      for (uint32_t i = 0; i < askLen; ++i) dst[i] = (dst - askDistance)[i];
      dst += askLen;
      lzPendingEnd = dst;
    } else {
      CopyDelta(dst, dst - askDistance, askSpan, askLen, false);
      dst += askLen;
      deltaPendingEnd = dst;
    }
  rebuild:
    RebuildSpent();
  }

#undef LZMS_ASK
  if (undoX86) X86Filter(out, outSize, x86Scratch, true);
  return true;
}

}  // namespace

bool DecodeStream(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize, bool undoX86,
                  LzmsProgressFn report, void* context, size_t base) {
  // The stream is 16-bit units, and the range decoder starts from two of them.
  if (in == nullptr || inSize < 4 || (inSize & 1) != 0) return false;
  if (outSize == 0) return true;
  if (out == nullptr || outSize > 0x7FFFFFFF) return false;
  std::unique_ptr<Decoder> d(new (std::nothrow) Decoder);
  if (!d) return false;
  d->report = report;
  d->context = context;
  d->base = base;
  return d->Run(in, inSize, out, outSize, undoX86);
}

}  // namespace lzms

bool LzmsDecompress(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize) {
  return lzms::DecodeStream(in, inSize, out, outSize, true, nullptr, nullptr, 0);
}
