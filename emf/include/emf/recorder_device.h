// A drawing device that records every call as metafile records: text as
// EXTTEXTOUTW with the face name and one advance per character, areas and
// lines as polygons, polylines or path brackets, pictures as STRETCHDIBITS
// (ALPHABLEND when they carry alpha), clips as a saved DC with a clip
// rectangle or clip path. Coordinates are written as device pixels of the
// recorder (mapping mode MM_TEXT, identity world transform), so every record
// can be moved by a plain offset.
#pragma once

#include <memory>

#include "emf/device.h"
#include "emf/writer.h"

namespace emf {

struct RecorderDeviceOptions {
    // On: curves are flattened to lines, open lines are MOVETOEX/LINETO runs,
    // closed shapes polygons, several figures a path bracket of those (for a
    // reader that moves no other records). Off: curves stay curves
    // (POLYBEZIERTO), a whole axis-aligned ellipse is one ELLIPSE record and
    // open lines are POLYLINE records.
    bool sliceSafe = false;
    double flatness = 0.25;  // device pixels a flattened curve may stray
};

class RecorderDevice : public Device {
public:
    // `recorder` is borrowed: it must outlive this device.
    explicit RecorderDevice(Recorder& recorder, const RecorderDeviceOptions& options = {});
    ~RecorderDevice() override;

    void BeginPage(const PageInfo&) override;
    void EndPage() override;
    void FillPath(const Path&, FillRule, const Paint&, const Matrix& ctm) override;
    void StrokePath(const Path&, const StrokeStyle&, const Color&, const Matrix& ctm) override;
    void DrawText(const TextRun&, const Matrix& ctm) override;
    void DrawImage(const Image&, const Matrix& ctm) override;
    // A comment record of ours (emf/font_comment.h).
    void DefineFont(const FontProgram&) override;
    void PushClip(const Path&, FillRule, const Matrix& ctm) override;
    void PopClip() override;

private:
    struct Members;
    std::unique_ptr<Members> m_;
};

}  // namespace emf
