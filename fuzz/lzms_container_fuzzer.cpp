// Buffered container reader on arbitrary bytes: the first two bytes choose the
// output capacity, the rest is the buffer. The same buffer is also decoded for
// a finisher that takes the bytes in small steps as they come: both ways must
// agree on success and, when they succeed, on every byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/finisher.h"
#include "codec/lzms.h"

namespace {

struct Consumer {
  LzmsFinisher* finisher;
  const uint8_t* out;
  size_t step;
  std::vector<uint8_t> received;

  void Take(size_t decoded) {
    for (size_t upTo = 0; upTo < decoded;) {
      upTo = decoded - upTo > step ? upTo + step : decoded;
      const uint8_t* bytes = nullptr;
      while (size_t n = LzmsFinisherNext(finisher, out, upTo, &bytes))
        received.insert(received.end(), bytes, bytes + n);
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t capacity = (data[0] | data[1] << 8) * size_t{16};
  std::vector<uint8_t> out(capacity);
  size_t actual = 0;
  const bool whole = LzmsBufferedDecompress(data + 2, size - 2, out.data(), out.size(), &actual);
  if (whole && actual > capacity) abort();

  static auto finisher = std::make_unique<LzmsFinisher>();
  std::vector<uint8_t> streamed(capacity);
  Consumer consumer{finisher.get(), streamed.data(), size_t{1} + data[0] % 61, {}};
  const bool begun = LzmsFinisherBegin(finisher.get(), data + 2, size - 2, streamed.size());
  size_t streamedSize = 0;
  const bool decoded = LzmsBufferedDecode(
      data + 2, size - 2, streamed.data(), streamed.size(), &streamedSize,
      [](void* context, size_t n, size_t need) -> size_t {
        // Room just past what is needed: the decoder must ask again and again.
        static_cast<Consumer*>(context)->Take(n);
        return need + 7;
      },
      &consumer);
  if (decoded != whole || (decoded && !begun)) abort();
  if (decoded) {
    consumer.Take(streamedSize);
    if (streamedSize != actual || consumer.received.size() != actual ||
        (actual && std::memcmp(consumer.received.data(), out.data(), actual) != 0))
      abort();
  }
  return 0;
}
