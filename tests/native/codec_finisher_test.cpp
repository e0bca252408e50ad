// Decoding a block while its final bytes are handed out: whatever the steps in
// which the consumer sees progress, it must receive exactly the bytes of a
// one-piece decode, x86 translations undone, chunk after chunk.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "codec/finisher.h"
#include "codec/lzms.h"
#include "codec_support.h"

namespace {

// Drives the finisher from the decoder's progress reports, asking for bytes
// at every `step` up to each reported count (a consumer that lags behind and
// catches up in pieces), then drains it once the decode has ended. It gives
// the decoder room to write only `step` bytes past what it needs, and checks
// that nothing was written past the room given before.
struct Consumer {
  LzmsFinisher* finisher;
  uint8_t* out;
  size_t outSize;
  size_t step;
  size_t seen = 0;
  size_t room = 0;
  bool overran = false;
  Bytes received;

  static constexpr uint8_t kUntouched = 0xA5;

  void Take(size_t decoded) {
    for (size_t upTo = seen; upTo < decoded;) {
      upTo = std::min(decoded, upTo + step);
      const uint8_t* bytes = nullptr;
      while (size_t n = LzmsFinisherNext(finisher, out, upTo, &bytes)) received.insert(received.end(), bytes, bytes + n);
    }
    seen = std::max(seen, decoded);
  }
  static size_t Report(void* context, size_t decoded, size_t need) {
    auto* c = static_cast<Consumer*>(context);
    for (size_t i = c->room; i < std::min(c->outSize, c->room + 4096); ++i) c->overran |= c->out[i] != kUntouched;
    c->Take(decoded);
    c->room = std::max(c->room, need + c->step);
    return c->room;
  }
};

Bytes StreamDecode(const Bytes& buffer, size_t outSize, size_t step, bool* ok, bool* overran) {
  auto finisher = std::make_unique<LzmsFinisher>();
  Bytes out(outSize, Consumer::kUntouched);
  Consumer consumer{finisher.get(), out.data(), out.size(), step, 0, 0, false, {}};
  *ok = LzmsFinisherBegin(finisher.get(), buffer.data(), buffer.size(), out.size());
  size_t actual = 0;
  *ok = *ok && LzmsBufferedDecode(buffer.data(), buffer.size(), out.data(), out.size(), &actual, Consumer::Report,
                                  &consumer);
  if (*ok) consumer.Take(actual);
  *overran = consumer.overran;
  return consumer.received;
}

// Code with many translated calls, text, noise (stored chunks) and a short tail.
Bytes MixedBlock() {
  Bytes data = SomePeFile(3 << 20);
  EXPECT_FALSE(data.empty()) << "no x86-64 PE file to test with";
  const Bytes text = TextBytes(400000, 7), noise = RandomBytes(300000, 8);
  data.insert(data.end(), text.begin(), text.end());
  data.insert(data.end(), noise.begin(), noise.end());
  data.insert(data.end(), data.begin(), data.begin() + 12345);
  return data;
}

TEST(CodecFinisher, HandsOutTheOnePieceDecodeWhateverTheSteps) {
  const Bytes data = MixedBlock();
  // One chunk, chunks across the staging size, chunks of 64 KiB (some stored),
  // and chunk sizes around the shortest one that may be translated.
  for (size_t chunk : {size_t{0}, size_t{1500000}, size_t{65536}, size_t{17}, size_t{18}, size_t{40}}) {
    const size_t size = chunk <= 40 ? 20000 : data.size();
    const Bytes buffer = LzmsBufferedCompress(data.data(), size, chunk);
    for (size_t step : {size_t{1} << 30, size_t{4096}, size_t{17}}) {
      if (step == 17 && size > 20000) continue;  // the byte-by-byte walk is for the short cases
      bool ok = false, overran = true;
      const Bytes received = StreamDecode(buffer, size + 5, step, &ok, &overran);
      ASSERT_TRUE(ok) << chunk << " " << step;
      EXPECT_FALSE(overran) << chunk << " " << step;
      ASSERT_EQ(received.size(), size) << chunk << " " << step;
      EXPECT_TRUE(std::equal(received.begin(), received.end(), data.begin())) << chunk << " " << step;
    }
  }
}

TEST(CodecFinisher, FollowsADecoderOnAnotherThread) {
  const Bytes data = MixedBlock();
  const Bytes buffer = LzmsBufferedCompress(data.data(), data.size());
  auto finisher = std::make_unique<LzmsFinisher>();
  Bytes out(data.size());
  ASSERT_TRUE(LzmsFinisherBegin(finisher.get(), buffer.data(), buffer.size(), out.size()));
  struct Shared {
    std::atomic<size_t> decoded{0};
    std::atomic<bool> ended{false};
  } shared;
  Bytes received;
  std::thread consumer([&] {
    for (;;) {
      const bool ended = shared.ended.load();
      const uint8_t* bytes = nullptr;
      while (size_t n = LzmsFinisherNext(finisher.get(), out.data(), shared.decoded.load(), &bytes))
        received.insert(received.end(), bytes, bytes + n);
      if (ended) break;
      std::this_thread::yield();
    }
  });
  size_t actual = 0;
  const bool ok = LzmsBufferedDecode(
      buffer.data(), buffer.size(), out.data(), out.size(), &actual,
      [](void* context, size_t decoded, size_t) {
        static_cast<Shared*>(context)->decoded.store(decoded);
        return SIZE_MAX;
      },
      &shared);
  shared.ended.store(true);
  consumer.join();
  ASSERT_TRUE(ok);
  EXPECT_EQ(received, data);
  // The decoder's own buffer still holds the translated bytes (where calls are).
  EXPECT_NE(out, data);
}

TEST(CodecFinisher, RefusesWhatTheDecoderRefusesAndStopsWhenAsked) {
  const Bytes data = TextBytes(600000, 9);
  Bytes buffer = LzmsBufferedCompress(data.data(), data.size());
  auto finisher = std::make_unique<LzmsFinisher>();
  EXPECT_FALSE(LzmsFinisherBegin(finisher.get(), buffer.data(), buffer.size(), data.size() - 1));
  EXPECT_FALSE(LzmsFinisherBegin(finisher.get(), buffer.data(), 23, data.size()));
  Bytes damaged = buffer;
  damaged[7] = 4;  // another algorithm
  EXPECT_FALSE(LzmsFinisherBegin(finisher.get(), damaged.data(), damaged.size(), data.size()));

  // A chunk header claiming more than the buffer holds gives nothing, no overrun.
  damaged = buffer;
  damaged[24 + 3] = 0x7F;
  ASSERT_TRUE(LzmsFinisherBegin(finisher.get(), damaged.data(), damaged.size(), data.size()));
  const uint8_t* bytes = nullptr;
  EXPECT_EQ(LzmsFinisherNext(finisher.get(), data.data(), data.size(), &bytes), 0u);

  // A consumer that gives up stops the decoder at its next report, and one
  // that gives less room than asked for stops it as well.
  Bytes out(data.size());
  size_t reports = 0;
  EXPECT_FALSE(LzmsBufferedDecode(
      buffer.data(), buffer.size(), out.data(), out.size(), nullptr,
      [](void* context, size_t, size_t) -> size_t { return ++*static_cast<size_t*>(context) < 2 ? SIZE_MAX : 0; },
      &reports));
  EXPECT_EQ(reports, 2u);
  EXPECT_FALSE(LzmsBufferedDecode(
      buffer.data(), buffer.size(), out.data(), out.size(), nullptr,
      [](void*, size_t, size_t need) -> size_t { return need - 1; }, nullptr));
}

}  // namespace
