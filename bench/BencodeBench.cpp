// Relay packet coding on the tunnel's hot path: every forwarded byte passes through a type-5 or type-6 packet.

#include "ShellCore/Bencode.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using namespace vantrel;

constexpr std::size_t kPayloadSize = 64 * 1024;

/** An incoming type-6 packet as the relay writes it: every scalar a byte string. */
std::string devicePacket()
{
    return "l1:64:2201" + std::to_string(kPayloadSize) + ":" + std::string(kPayloadSize, 'd') + "e";
}

void decodeDevicePacket(benchmark::State& state)
{
    const std::string packet = devicePacket();
    for (auto _ : state) {
        const Result<BencodeDocument> decoded = decodeBencode(packet);
        const BencodeValue root = decoded.value().root();
        benchmark::DoNotOptimize(incomingInteger(*root.element(1)));
        benchmark::DoNotOptimize(root.element(2)->bytes());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * packet.size()));
}
BENCHMARK(decodeDevicePacket);

/** The outgoing type-5 packet written whole, payload copied into a reused buffer. */
void encodeDataPacketCopied(benchmark::State& state)
{
    const std::string payload(kPayloadSize, 'c');
    std::string packet;
    for (auto _ : state) {
        packet.clear();
        BencodeWriter(packet).beginList().integer(5).integer(2201).bytes(payload).end();
        benchmark::DoNotOptimize(packet.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * packet.size()));
}
BENCHMARK(encodeDataPacketCopied);

/** The outgoing type-5 packet framed by its header only; the payload goes out as its own buffer. */
void encodeDataPacketHeader(benchmark::State& state)
{
    for (auto _ : state) {
        const BencodePayloadHeader header(5, 2201, kPayloadSize);
        benchmark::DoNotOptimize(header.text().data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPayloadSize));
}
BENCHMARK(encodeDataPacketHeader);

/** A ping in, its pong out: the relay's keep-alive round on this side. */
void answerPing(benchmark::State& state)
{
    const std::string ping = "l1:72:42e";
    std::string pong;
    for (auto _ : state) {
        const Result<BencodeDocument> decoded = decodeBencode(ping);
        pong.clear();
        BencodeWriter(pong).beginList().integer(8).bytes(pingText(*decoded.value().root().element(1))).end();
        benchmark::DoNotOptimize(pong.data());
    }
}
BENCHMARK(answerPing);

/** The worst shape within the limits: the most values a message may hold. */
void decodeMostValues(benchmark::State& state)
{
    std::string message = "l";
    for (std::size_t i = 1; i < BencodeLimits {}.maxValues; ++i) {
        message += "i7e";
    }
    message += "e";
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodeBencode(message).ok());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * BencodeLimits {}.maxValues));
}
BENCHMARK(decodeMostValues);

} // namespace

BENCHMARK_MAIN();
