// Records what is drawn into a context: the surface is an enhanced
// metafile, and its EMR_EXTTEXTOUTA/W and EMR_RECTANGLE records are read
// back as plain calls. Fonts are not compared, only positions and text.
#pragma once

#include <windows.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "editor/program_state.h"

struct DrawCall {
    char kind;  // 't' text, 'r' rectangle
    int32_t x, y;          // text: reference point; rectangle: left, top
    int32_t right, bottom; // rectangle only
    std::string text;      // text only
};

inline bool operator==(const DrawCall& a, const DrawCall& b)
{
    return a.kind == b.kind && a.x == b.x && a.y == b.y && a.right == b.right && a.bottom == b.bottom &&
           a.text == b.text;
}

inline std::ostream& operator<<(std::ostream& out, const DrawCall& c)
{
    if (c.kind == 't')
        return out << "text(" << c.x << ", " << c.y << ", \"" << c.text << "\")";
    return out << "rect(" << c.x << ", " << c.y << ", " << c.right << ", " << c.bottom << ")";
}

inline DrawCall Text(int32_t x, int32_t y, const std::string& text) { return {'t', x, y, 0, 0, text}; }
inline DrawCall Rect(int32_t l, int32_t t, int32_t r, int32_t b) { return {'r', l, t, r, b, ""}; }

// A fresh metafile to draw into until Finish() hands back the calls.
class DrawingRecorder {
public:
    DrawingRecorder()
    {
        dc_ = CreateEnhMetaFileA(nullptr, nullptr, nullptr, nullptr);
    }
    ~DrawingRecorder()
    {
        if (dc_ != nullptr)
            DeleteEnhMetaFile(CloseEnhMetaFile(dc_));
    }
    bool Ready() const { return dc_ != nullptr; }
    HDC Dc() const { return dc_; }

    // Only text calls, or everything, in the order drawn.
    std::vector<DrawCall> Finish(bool withRectangles = false)
    {
        HENHMETAFILE emf = CloseEnhMetaFile(dc_);
        dc_ = nullptr;
        std::vector<DrawCall> calls;
        UINT size = GetEnhMetaFileBits(emf, 0, nullptr);
        std::vector<BYTE> bits(size);
        GetEnhMetaFileBits(emf, size, bits.data());
        DeleteEnhMetaFile(emf);
        for (UINT at = 0; at + sizeof(EMR) <= size;) {
            const EMR* record = reinterpret_cast<const EMR*>(bits.data() + at);
            if (record->nSize == 0)
                break;
            if (record->iType == EMR_EXTTEXTOUTA || record->iType == EMR_EXTTEXTOUTW) {
                const EMREXTTEXTOUTA* t = reinterpret_cast<const EMREXTTEXTOUTA*>(record);
                const BYTE* chars = bits.data() + at + t->emrtext.offString;
                std::string text;
                for (DWORD i = 0; i < t->emrtext.nChars; ++i)
                    text += record->iType == EMR_EXTTEXTOUTA
                                ? static_cast<char>(chars[i])
                                : static_cast<char>(reinterpret_cast<const WCHAR*>(chars)[i]);
                calls.push_back(Text(t->emrtext.ptlReference.x, t->emrtext.ptlReference.y, text));
            } else if (record->iType == EMR_RECTANGLE && withRectangles) {
                // The box is stored inclusive; report the corners as they
                // were passed to Rectangle.
                const EMRRECTANGLE* r = reinterpret_cast<const EMRRECTANGLE*>(record);
                calls.push_back(Rect(r->rclBox.left, r->rclBox.top, r->rclBox.right + 1, r->rclBox.bottom + 1));
            }
            at += record->nSize;
        }
        return calls;
    }

private:
    HDC dc_;
};
