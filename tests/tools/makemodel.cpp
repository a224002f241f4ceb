// Writes whisper model files in the legacy ggml layout for tests that need the genuine engine
// but cannot fetch real weights. The decoder is wired so that greedy decoding of any recording
// yields one fixed phrase; the encoder holds deterministic filler that costs what real weights
// of the same shape cost.
//
//   makemodel parrot OUTPUT [--phrase TEXT] [--end SECONDS]   tiny and fast, for functional tests
//   makemodel base   OUTPUT [--phrase TEXT] [--end SECONDS]   the shape of base.en, for benchmarks
//
// Greedy decoding runs <|0.00|>, the phrase's tokens, <|0.10|>, end-of-text. The same arguments
// always give the same bytes, so tests can pin checksums.

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

namespace {

// Token ids of an English-only vocabulary, as whisper.cpp assigns them for 51864 entries.
constexpr std::int32_t kVocabSize = 51864;
constexpr std::int32_t kEndOfText = 50256;
constexpr std::int32_t kStartOfTranscript = 50257;
constexpr std::int32_t kEnglish = 50258;
constexpr std::int32_t kFirstTimestamp = 50363; // <|0.00|>, then one id per 0.02 s

// By default the segment ends at 0.10 s: whisper skips recordings shorter than that, so the end
// never lies beyond the audio it was decoded from. --end moves it, for tests of what happens
// when the engine reports an end past the audio.
constexpr std::int32_t kDefaultClosingTimestamp = kFirstTimestamp + 5;
constexpr std::int32_t kLastTimestamp = kFirstTimestamp + 1500; // <|30.00|>

// whisper.cpp judges a segment of more than 32 tokens by the variety of its tokens and decodes a
// repetitive one again at a higher temperature; the phrase and its timestamps stay below that.
constexpr std::size_t kMaxPhraseTokens = 24;

constexpr std::int32_t kAudioContext = 1500;
constexpr std::int32_t kTextContext = 448;
constexpr std::int32_t kMels = 80;
constexpr std::int32_t kFftBins = 201; // 400-sample frames at 16 kHz

enum class Type : std::int32_t { F32 = 0, F16 = 1 };

struct Shape
{
    std::int32_t state;
    std::int32_t heads;
    std::int32_t audioLayers;
    std::int32_t textLayers;
    Type weightType; // of matrices and convolution kernels; everything else stays F32
};

// F16 even for the small model: whisper.cpp gives the convolution kernels the weight type, and
// its CPU backend convolves only F16 kernels.
constexpr Shape kParrot{64, 1, 1, 1, Type::F16};
constexpr Shape kBase{512, 8, 6, 6, Type::F16};

// Each token in play needs its own zero-mean Hadamard row: the phrase's tokens, the closing
// timestamp and four special tokens, out of state - 1 rows.
static_assert(kMaxPhraseTokens + 5 < std::size_t(kParrot.state));

void appendLittleEndian(std::string &bytes, std::uint32_t bits, int size)
{
    for (int shift = 0; shift < 8 * size; shift += 8)
        bytes.push_back(char(bits >> shift));
}

// The file's integers: 32 bits each, little-endian.
std::string words(const std::vector<std::int32_t> &values)
{
    std::string bytes;
    for (std::int32_t value : values)
        appendLittleEndian(bytes, std::uint32_t(value), 4);
    return bytes;
}

// Filler seeded by the tensor's name: stable whatever order tensors are written in, and every
// value is a multiple of 2^-15 of magnitude at most 1/32, exact in both F32 and F16.
std::vector<float> filler(const std::string &name, std::size_t count)
{
    std::uint64_t state = 14695981039346656037ull;
    for (unsigned char c : name)
        state = (state ^ c) * 1099511628211ull;
    std::vector<float> values(count);
    for (float &value : values) {
        state += 0x9e3779b97f4a7c15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        z ^= z >> 31;
        value = float(std::int32_t(z % 2049) - 1024) / 32768.0f;
    }
    return values;
}

// The payload is built in memory, so that each tensor is a single write. The compiler converts
// to F16 as the standard says, rounding to nearest with ties to even, so files match across hosts.
void writeTensor(std::ostream &out, const std::string &name, const std::vector<std::int32_t> &dims, Type type,
                 const std::vector<float> &values)
{
    std::string bytes = words({std::int32_t(dims.size()), std::int32_t(name.size()), std::int32_t(type)});
    bytes += words(dims) + name;
    bytes.reserve(bytes.size() + values.size() * (type == Type::F32 ? 4 : 2));
    for (float value : values) {
        if (type == Type::F32)
            appendLittleEndian(bytes, std::bit_cast<std::uint32_t>(value), 4);
        else
            appendLittleEndian(bytes, std::bit_cast<std::uint16_t>(static_cast<_Float16>(value)), 2);
    }
    out << bytes;
}

// Overlapping triangles evenly spaced over the spectrum rather than whisper's mel scale: the
// encoder is filler anyway, and integer arithmetic with one final division yields the same
// bytes on every host, where logarithms from different maths libraries might not. The file
// stores each F32 among its integers.
std::vector<std::int32_t> filterBank()
{
    std::vector<std::int32_t> filters;
    for (int band = 1; band <= kMels; ++band) {
        for (int bin = 0; bin < kFftBins; ++bin) {
            const int distance = std::abs((kMels + 1) * bin - (kFftBins - 1) * band);
            const float weight = float(std::max(0, kFftBins - 1 - distance)) / float(kFftBins - 1);
            filters.push_back(std::bit_cast<std::int32_t>(weight));
        }
    }
    return filters;
}

// GPT-2's byte tokens: printable bytes first, the rest after, which puts the space at id 220
// where whisper.cpp looks it up.
std::vector<std::string> byteTokens()
{
    std::vector<std::string> tokens;
    const auto printable = [](int b) {
        return (b >= '!' && b <= '~') || (b >= 0xa1 && b <= 0xac) || (b >= 0xae && b <= 0xff);
    };
    for (bool wanted : {true, false})
        for (int b = 0; b < 256; ++b)
            if (printable(b) == wanted)
                tokens.emplace_back(1, char(b));
    return tokens;
}

// ASCII letters and digits only: the program keeps the C locale.
bool hasAlphanumeric(const std::string &text)
{
    return std::any_of(text.begin(), text.end(), [](unsigned char c) { return std::isalnum(c) != 0; });
}

// Splits the phrase into words with their leading spaces, so the tokens concatenate back to
// exactly the phrase. A word without letters or digits joins its neighbour because whisper
// suppresses tokens such as " -" or "(" as non-speech. Long phrases put several words in a token.
std::vector<std::string> tokenize(const std::string &phrase)
{
    std::vector<std::string> words;
    std::string pending;
    for (std::size_t start = 0; start < phrase.size();) {
        const std::size_t end = std::min(phrase.find(' ', phrase.find_first_not_of(' ', start)), phrase.size());
        const std::string word = phrase.substr(start, end - start);
        start = end;
        if (!hasAlphanumeric(word)) {
            (words.empty() ? pending : words.back()) += word;
        } else {
            words.push_back(pending + word);
            pending.clear();
        }
    }
    if (!pending.empty())
        words.push_back(pending);

    const std::size_t perToken = (words.size() + kMaxPhraseTokens - 1) / kMaxPhraseTokens;
    std::vector<std::string> tokens;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i % perToken == 0)
            tokens.emplace_back();
        tokens.back() += words[i];
    }
    return tokens;
}

// Writes without checking each step: a failed stream ignores what follows, and its state tells
// the caller at the end.
void writeModel(const Shape &shape, const std::string &phrase, std::int32_t closingTimestamp, std::ostream &out)
{
    const std::int32_t n = shape.state;
    const std::size_t un = std::size_t(n);

    // Text tokens follow the byte tokens; a word that is already a byte token keeps its id.
    std::vector<std::string> vocabulary = byteTokens();
    std::map<std::string, std::int32_t> ids;
    for (std::size_t i = 0; i < vocabulary.size(); ++i)
        ids.emplace(vocabulary[i], std::int32_t(i));
    std::vector<std::int32_t> sequence{kFirstTimestamp};
    for (const std::string &word : tokenize(phrase)) {
        auto [it, added] = ids.emplace(word, std::int32_t(vocabulary.size()));
        if (added)
            vocabulary.push_back(word);
        sequence.push_back(it->second);
    }
    sequence.push_back(closingTimestamp);
    sequence.push_back(kEndOfText);

    // Every token in play gets its own row of a Sylvester-Hadamard matrix: entries of ±1, zero
    // mean (row 0 is skipped) and mutually orthogonal, so layer norm leaves the rows' directions
    // alone and each row scores only against itself. All other rows are zero and score 0.
    std::map<std::int32_t, std::size_t> hadamardRow;
    for (std::int32_t id : {kStartOfTranscript, kEnglish})
        hadamardRow.emplace(id, hadamardRow.size() + 1);
    for (std::int32_t id : sequence)
        hadamardRow.emplace(id, hadamardRow.size() + 1);
    const auto hadamard = [](std::size_t row, std::size_t column) {
        return std::popcount(row & column) % 2 == 0 ? 1.0f : -1.0f;
    };

    // Step p of the decode sees the embedding of its input token (scale a) plus the positional
    // row p, which is ten times the embedding of the token wanted next. After layer norm with
    // gain 2 the wanted token scores 2·a·n·10/√101 ≈ 64 for a = 32/n: far above ln 1501 ≈ 7.3,
    // the log-sum-exp of the timestamp tokens that would otherwise force a timestamp, and above
    // the ≈ 6.4 the input token scores. Powers of two keep a exact in F16.
    const float a = 32.0f / float(n), b = 10.0f * a;
    std::vector<float> tokenEmbedding(un * kVocabSize, 0.0f);
    for (auto [id, row] : hadamardRow)
        for (std::size_t j = 0; j < un; ++j)
            tokenEmbedding[std::size_t(id) * un + j] = a * hadamard(row, j);

    // Each 30-second window of a long recording is prompted with what the earlier windows kept
    // (all but end-of-text), even with no_context, which only drops history from earlier calls.
    // So a later window k starts at position k·kept + 1 until the prompt reaches its cap of
    // half the text context, where every window after that starts. The pattern repeats from those
    // starts; neighbours share one position, whose two wanted tokens whisper's rules keep apart:
    // after the closing timestamp the first timestamp is masked, and the first step masks
    // end-of-text. Two rows there lower the wanted token's score to 2·32·10/√201 ≈ 45, still ample.
    const std::size_t kept = sequence.size() - 1, cap = kTextContext / 2;
    std::vector<std::size_t> starts{0, cap};
    for (std::size_t start = kept + 1; start + kept <= cap; start += kept)
        starts.push_back(start);
    std::vector<float> positional(un * kTextContext, 0.0f);
    for (std::size_t start : starts)
        for (std::size_t p = 0; p < sequence.size(); ++p)
            for (std::size_t j = 0; j < un; ++j)
                positional[(start + p) * un + j] += b * hadamard(hadamardRow.at(sequence[p]), j);
    // Language detection reads the scores after the start token; half the positional scale
    // makes English win there without overtaking the first timestamp.
    for (std::size_t j = 0; j < un; ++j)
        positional[j] += 0.5f * b * hadamard(hadamardRow.at(kEnglish), j);

    out << words({0x67676d6c, kVocabSize, kAudioContext, n, shape.heads, shape.audioLayers, kTextContext, n,
                  shape.heads, shape.textLayers, kMels, std::int32_t(shape.weightType), kMels, kFftBins});
    out << words(filterBank());

    // Only the ordinary text tokens are listed; whisper.cpp names the special ones itself.
    vocabulary.resize(kEndOfText);
    out << words({std::int32_t(vocabulary.size())});
    for (const std::string &token : vocabulary)
        out << words({std::int32_t(token.size())}) << token;

    // Filler, or one value throughout.
    const auto put = [&](const std::string &name, const std::vector<std::int32_t> &dims, Type type,
                         std::optional<float> constant = std::nullopt) {
        const std::size_t count = std::accumulate(dims.begin(), dims.end(), std::size_t(1), std::multiplies<>());
        writeTensor(out, name, dims, type, constant ? std::vector<float>(count, *constant) : filler(name, count));
    };
    // A silenced projection is zero, so it adds nothing to the residual stream, which therefore
    // carries exactly the token and positional embeddings from input to output.
    const auto linear = [&](const std::string &prefix, std::int32_t inputs, std::int32_t outputs, bool silenced) {
        const std::optional<float> zero = silenced ? std::optional(0.0f) : std::nullopt;
        put(prefix + ".weight", {inputs, outputs}, shape.weightType, zero);
        put(prefix + ".bias", {outputs}, Type::F32, zero);
    };
    const auto norm = [&](const std::string &prefix, float gain) {
        put(prefix + ".weight", {n}, Type::F32, gain);
        put(prefix + ".bias", {n}, Type::F32, 0.0f);
    };
    const auto attention = [&](const std::string &prefix, bool decoder) {
        linear(prefix + ".query", n, n, false);
        put(prefix + ".key.weight", {n, n}, shape.weightType);
        linear(prefix + ".value", n, n, false);
        linear(prefix + ".out", n, n, decoder);
        norm(prefix + "_ln", 1.0f);
    };
    const auto block = [&](const std::string &prefix, bool decoder) {
        attention(prefix + ".attn", decoder);
        if (decoder)
            attention(prefix + ".cross_attn", true);
        linear(prefix + ".mlp.0", n, 4 * n, false);
        linear(prefix + ".mlp.2", 4 * n, n, decoder);
        norm(prefix + ".mlp_ln", 1.0f);
    };

    put("encoder.positional_embedding", {n, kAudioContext}, Type::F32);
    put("encoder.conv1.weight", {3, kMels, n}, shape.weightType);
    put("encoder.conv1.bias", {1, n}, Type::F32);
    put("encoder.conv2.weight", {3, n, n}, shape.weightType);
    put("encoder.conv2.bias", {1, n}, Type::F32);
    for (std::int32_t i = 0; i < shape.audioLayers; ++i)
        block("encoder.blocks." + std::to_string(i), false);
    norm("encoder.ln_post", 1.0f);

    writeTensor(out, "decoder.positional_embedding", {n, kTextContext}, Type::F32, positional);
    writeTensor(out, "decoder.token_embedding.weight", {n, kVocabSize}, shape.weightType, tokenEmbedding);
    for (std::int32_t i = 0; i < shape.textLayers; ++i)
        block("decoder.blocks." + std::to_string(i), true);
    norm("decoder.ln", 2.0f);
}

int usage(const std::string &message)
{
    std::fprintf(stderr, "makemodel: %s\nusage: makemodel parrot|base OUTPUT [--phrase TEXT] [--end SECONDS]\n",
                 message.c_str());
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    const std::map<std::string, Shape> shapes{{"parrot", kParrot}, {"base", kBase}};
    if (argc < 3 || argc % 2 == 0)
        return usage("wrong number of arguments");
    const auto shape = shapes.find(argv[1]);
    if (shape == shapes.end())
        return usage("unknown model kind '" + std::string(argv[1]) + "'");
    std::string phrase = " Hello from the parrot model.";
    std::int32_t closingTimestamp = kDefaultClosingTimestamp;
    for (int i = 3; i < argc; i += 2) {
        const std::string option = argv[i], value = argv[i + 1];
        if (option == "--phrase") {
            phrase = value;
        } else if (option == "--end") {
            // Timestamps come in 0.02 s steps after <|0.00|>; the segment must not be empty.
            char *rest = nullptr;
            const long steps = std::lround(std::strtod(value.c_str(), &rest) / 0.02);
            if (rest == value.c_str() || *rest != '\0' || steps < 1 || steps > kLastTimestamp - kFirstTimestamp)
                return usage("--end takes seconds from 0.02 to 30");
            closingTimestamp = kFirstTimestamp + std::int32_t(steps);
        } else {
            return usage("unknown option '" + option + "'");
        }
    }
    // Whisper suppresses tokens made only of punctuation, so such a phrase could never be decoded.
    if (!hasAlphanumeric(phrase) && std::none_of(phrase.begin(), phrase.end(), [](unsigned char c) { return c >= 0x80; }))
        return usage("the phrase needs at least one letter or digit");

    const std::string path = argv[2];
    std::ofstream out(path, std::ios::binary);
    const bool opened = out.is_open();
    if (opened)
        writeModel(shape->second, phrase, closingTimestamp, out);
    out.close();
    if (!out) {
        const int error = errno;
        // A half-written model must not be mistaken for a good one, so it goes; an output that is
        // no regular file, such as a device, stays, and so does a file that could not be opened.
        std::error_code ignored;
        if (opened && std::filesystem::is_regular_file(path, ignored))
            std::filesystem::remove(path, ignored);
        std::fprintf(stderr, "makemodel: cannot write %s: %s\n", path.c_str(), std::strerror(error));
        return 1;
    }
    return 0;
}
