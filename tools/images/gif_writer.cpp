#include "tools/images/gif_writer.h"

#include <QHash>
#include <QRect>

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

constexpr int kMinCodeSize = 8;
constexpr int kMaxCode = 4095;

void putWord(QByteArray& out, int value) {
    out.append(static_cast<char>(value & 0xff));
    out.append(static_cast<char>((value >> 8) & 0xff));
}

// Collects codes least significant bit first and cuts the bytes into sub-blocks of 255.
class CodeWriter {
public:
    void put(uint32_t code, int bits) {
        acc_ |= code << used_;
        used_ += bits;
        while (used_ >= 8) {
            bytes_.append(static_cast<char>(acc_ & 0xff));
            acc_ >>= 8;
            used_ -= 8;
        }
    }
    void finish(QByteArray& out) {
        if (used_ > 0) {
            bytes_.append(static_cast<char>(acc_ & 0xff));
        }
        for (int i = 0; i < bytes_.size(); i += 255) {
            const int n = std::min(255, static_cast<int>(bytes_.size()) - i);
            out.append(static_cast<char>(n));
            out.append(bytes_.constData() + i, n);
        }
        out.append('\0');
    }

private:
    uint32_t acc_ = 0;
    int used_ = 0;
    QByteArray bytes_;
};

void writeLzw(QByteArray& out, const std::vector<uint8_t>& indices) {
    const uint32_t clear = 1u << kMinCodeSize;
    const uint32_t end = clear + 1;
    out.append(static_cast<char>(kMinCodeSize));
    CodeWriter codes;
    std::unordered_map<uint32_t, uint32_t> table;  // (prefix code << 8 | index) -> code
    int codeSize = kMinCodeSize + 1;
    uint32_t lastCode = end;
    codes.put(clear, codeSize);
    uint32_t prefix = indices.front();
    for (size_t i = 1; i < indices.size(); ++i) {
        const uint32_t key = prefix << 8 | indices[i];
        const auto found = table.find(key);
        if (found != table.end()) {
            prefix = found->second;
            continue;
        }
        codes.put(prefix, codeSize);
        table.emplace(key, ++lastCode);
        // The decoder widens its codes once the code just added needs another bit.
        if (lastCode >= (1u << codeSize)) {
            ++codeSize;
        }
        if (lastCode == kMaxCode) {
            codes.put(clear, codeSize);
            table.clear();
            codeSize = kMinCodeSize + 1;
            lastCode = end;
        }
        prefix = indices[i];
    }
    codes.put(prefix, codeSize);
    codes.put(end, codeSize);
    codes.finish(out);
}

QVector<QRgb> buildPalette(const QVector<GifFrame>& frames) {
    QHash<QRgb, int> counts;
    for (const GifFrame& frame : frames) {
        for (int y = 0; y < frame.image.height(); ++y) {
            const QRgb* line = reinterpret_cast<const QRgb*>(frame.image.constScanLine(y));
            for (int x = 0; x < frame.image.width(); ++x) {
                ++counts[line[x] | 0xff000000u];
            }
        }
    }
    std::vector<std::pair<int, QRgb>> byCount;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        byCount.emplace_back(it.value(), it.key());
    }
    std::sort(byCount.begin(), byCount.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    QVector<QRgb> palette;
    for (size_t i = 0; i < byCount.size() && i < 256; ++i) {
        palette.append(byCount[i].second);
    }
    while (palette.size() < 256) {
        palette.append(qRgb(0, 0, 0));
    }
    return palette;
}

uint8_t nearest(const QVector<QRgb>& palette, QRgb colour, QHash<QRgb, uint8_t>& cache) {
    const auto cached = cache.constFind(colour);
    if (cached != cache.constEnd()) {
        return cached.value();
    }
    int best = 0;
    int bestDistance = 1 << 30;
    for (int i = 0; i < palette.size(); ++i) {
        const int dr = qRed(colour) - qRed(palette[i]);
        const int dg = qGreen(colour) - qGreen(palette[i]);
        const int db = qBlue(colour) - qBlue(palette[i]);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    cache.insert(colour, static_cast<uint8_t>(best));
    return static_cast<uint8_t>(best);
}

}  // namespace

QByteArray encodeGif(const QVector<GifFrame>& frames) {
    if (frames.isEmpty()) {
        return {};
    }
    const QSize size = frames.front().image.size();
    QVector<GifFrame> argb;
    for (const GifFrame& frame : frames) {
        if (frame.image.size() != size) {
            return {};
        }
        argb.append({frame.image.convertToFormat(QImage::Format_RGB32), frame.delayMs});
    }
    const QVector<QRgb> palette = buildPalette(argb);

    QByteArray out("GIF89a");
    putWord(out, size.width());
    putWord(out, size.height());
    out.append(static_cast<char>(0xf7));  // global table of 256 colours, 8 bits per primary
    out.append('\0');                     // background colour index
    out.append('\0');                     // square pixels
    for (const QRgb colour : palette) {
        out.append(static_cast<char>(qRed(colour)));
        out.append(static_cast<char>(qGreen(colour)));
        out.append(static_cast<char>(qBlue(colour)));
    }
    // Loop for ever.
    out.append("\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00", 19);

    QHash<QRgb, uint8_t> cache;
    std::vector<uint8_t> previous;
    for (const GifFrame& frame : argb) {
        std::vector<uint8_t> indices(size_t(size.width()) * size.height());
        for (int y = 0; y < size.height(); ++y) {
            const QRgb* line = reinterpret_cast<const QRgb*>(frame.image.constScanLine(y));
            for (int x = 0; x < size.width(); ++x) {
                indices[size_t(y) * size.width() + x] = nearest(palette, line[x], cache);
            }
        }
        QRect changed(QPoint(0, 0), size);
        if (!previous.empty()) {
            changed = QRect();
            for (int y = 0; y < size.height(); ++y) {
                for (int x = 0; x < size.width(); ++x) {
                    const size_t at = size_t(y) * size.width() + x;
                    if (indices[at] != previous[at]) {
                        changed |= QRect(x, y, 1, 1);
                    }
                }
            }
            if (changed.isEmpty()) {
                changed = QRect(0, 0, 1, 1);
            }
        }
        // Graphic control: leave the frame in place, so the next one only paints its changes.
        out.append("\x21\xf9\x04\x04", 4);
        putWord(out, (frame.delayMs + 5) / 10);
        out.append('\0');
        out.append('\0');
        out.append('\x2c');
        putWord(out, changed.x());
        putWord(out, changed.y());
        putWord(out, changed.width());
        putWord(out, changed.height());
        out.append('\0');
        std::vector<uint8_t> part;
        part.reserve(size_t(changed.width()) * changed.height());
        for (int y = changed.top(); y <= changed.bottom(); ++y) {
            for (int x = changed.left(); x <= changed.right(); ++x) {
                part.push_back(indices[size_t(y) * size.width() + x]);
            }
        }
        writeLzw(out, part);
        previous = std::move(indices);
    }
    out.append('\x3b');
    return out;
}
