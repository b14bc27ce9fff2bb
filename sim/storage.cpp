#include "storage.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {

constexpr std::array<std::uint8_t, 50> FactoryHead = {
    0x03, 0x01, 0x01, 0x39, 0x00, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x1E, 0x00,
    0x14, 0x03, 0xE8, 0x0D, 0xAC, 0x02, 0xBC, 0x0B, 0x54, 0x01, 0x01, 0x01, 0x01,
    0x01, 0x01, 0x02, 0x60, 0x01, 0x9C, 0x0A, 0xD1, 0x01, 0x01, 0x01, 0x00, 0x0A,
    0x32, 0x0C, 0x1C, 0x33, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

void putLe(std::vector<std::uint8_t> &out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(std::uint8_t(value >> (8 * i)));
}

void putTag(std::vector<std::uint8_t> &out, const char *tag)
{
    out.insert(out.end(), tag, tag + 4);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

Block factoryBlock()
{
    Block block{};
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = i < FactoryHead.size() ? FactoryHead[i] : std::uint8_t((i * 7 + 3) & 0xFF);
    return block;
}

unsigned launchCount(const Block &block) { return unsigned(block[4]) << 8 | block[5]; }

void setLaunchCount(Block &block, unsigned count)
{
    block[4] = std::uint8_t(count >> 8);
    block[5] = std::uint8_t(count);
}

std::optional<Block> loadBlock(const std::string &path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    Block block{};
    std::uint8_t extra = 0;
    ssize_t got = read(fd, block.data(), block.size());
    ssize_t more = read(fd, &extra, 1);
    close(fd);
    if (got != ssize_t(block.size()) || more != 0)
        return std::nullopt;
    return block;
}

std::string saveFile(const std::string &path, std::span<const std::uint8_t> bytes)
{
    std::string temporary = path + ".part";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return "cannot create " + temporary + ": " + std::strerror(errno);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::string why = std::strerror(errno);
            close(fd);
            unlink(temporary.c_str());
            return "cannot write " + temporary + ": " + why;
        }
        done += std::size_t(n);
    }
    close(fd);
    if (rename(temporary.c_str(), path.c_str()) != 0)
        return "cannot rename " + temporary + ": " + std::strerror(errno);
    return {};
}

std::string saveBlock(const std::string &path, const Block &block) { return saveFile(path, block); }

std::string saveWav(const std::string &path, std::span<const std::uint8_t> data)
{
    constexpr std::uint32_t rate = 8000;
    constexpr std::uint32_t channels = 1;
    constexpr std::uint32_t bits = 16;
    auto length = std::uint32_t(data.size());

    std::vector<std::uint8_t> file;
    file.reserve(44 + data.size());
    putTag(file, "RIFF");
    putLe(file, 36 + length, 4);
    putTag(file, "WAVE");
    putTag(file, "fmt ");
    putLe(file, 16, 4);
    putLe(file, 1, 2); // PCM
    putLe(file, channels, 2);
    putLe(file, rate, 4);
    putLe(file, rate * channels * bits / 8, 4);
    putLe(file, channels * bits / 8, 2);
    putLe(file, bits, 2);
    putTag(file, "data");
    putLe(file, length, 4);
    file.insert(file.end(), data.begin(), data.end());
    return saveFile(path, file);
}

std::string toHex(std::span<const std::uint8_t> bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 0x0F]);
    }
    return text;
}

std::optional<Block> blockFromHex(const std::string &hex)
{
    Block block{};
    if (hex.size() != block.size() * 2)
        return std::nullopt;
    for (std::size_t i = 0; i < block.size(); ++i) {
        int high = hexDigit(hex[2 * i]);
        int low = hexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        block[i] = std::uint8_t(high << 4 | low);
    }
    return block;
}

} // namespace sim
