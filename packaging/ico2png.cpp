// ico2png ICO PNG [SIZE]: writes the PNG image stored in an .ico file, so the desktop icon is the
// very picture the windows carry. Windows icons may hold PNG data since Vista; kv.ico does, so
// no decoding is needed, only the image directory has to be read. With several images, the one
// of SIZE pixels (default 32) wins, else the largest.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::uint32_t le(const std::vector<unsigned char> &b, std::size_t at, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | b[at + std::size_t(i)];
    return v;
}

int fail(const std::string &why)
{
    std::cerr << "ico2png: " << why << '\n';
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3 || argc > 4)
        return fail("usage: ico2png ICO PNG [SIZE]");
    const unsigned wanted = argc == 4 ? unsigned(std::atoi(argv[3])) : 32u;

    std::ifstream in(argv[1], std::ios::binary);
    if (!in)
        return fail(std::string("cannot read ") + argv[1]);
    const std::vector<unsigned char> ico((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (ico.size() < 6 || le(ico, 0, 2) != 0 || le(ico, 2, 2) != 1)
        return fail(std::string(argv[1]) + " is not an icon file");

    const std::size_t count = le(ico, 4, 2);
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    std::size_t bestOffset = 0, bestLength = 0;
    unsigned bestSize = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry = 6 + 16 * i;
        if (entry + 16 > ico.size())
            return fail("truncated image directory");
        // A width byte of 0 stands for 256 pixels.
        const unsigned size = ico[entry] == 0 ? 256u : ico[entry];
        const std::size_t length = le(ico, entry + 8, 4);
        const std::size_t offset = le(ico, entry + 12, 4);
        if (offset > ico.size() || length > ico.size() - offset || length < sizeof signature)
            return fail("image " + std::to_string(i) + " lies outside the file");
        bool png = true;
        for (std::size_t k = 0; k < sizeof signature; ++k)
            png = png && ico[offset + k] == signature[k];
        if (!png)
            continue;
        const bool better = bestLength == 0 || (size == wanted && bestSize != wanted)
                            || (bestSize != wanted && size > bestSize);
        if (better) {
            bestOffset = offset;
            bestLength = length;
            bestSize = size;
        }
    }
    if (bestLength == 0)
        return fail(std::string(argv[1]) + " holds no PNG image");

    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(ico.data() + bestOffset), std::streamsize(bestLength));
    out.close();
    if (!out)
        return fail(std::string("cannot write ") + argv[2]);
    return 0;
}
