// A drawing device that writes each call as one line of text, for tests that
// compare drawing against golden traces. Numbers use at most 6 significant
// digits and the classic locale.
#pragma once

#include <string>

#include "emf/device.h"

namespace emf {

class TraceDevice : public Device {
public:
    const std::string& Text() const { return text_; }
    void Clear() { text_.clear(); }

    void BeginPage(const PageInfo&) override;
    void EndPage() override;
    void FillPath(const Path&, FillRule, const Paint&, const Matrix& ctm) override;
    void StrokePath(const Path&, const StrokeStyle&, const Color&, const Matrix& ctm) override;
    void DrawText(const TextRun&, const Matrix& ctm) override;
    void DrawImage(const Image&, const Matrix& ctm) override;
    void DefineFont(const FontProgram&) override;
    void PushClip(const Path&, FillRule, const Matrix& ctm) override;
    void PopClip() override;

    // Helpers the golden traces of other devices share.
    static std::string Num(double);
    static std::string ColorText(const Color&);
    static std::string MatrixText(const Matrix&);
    static std::string PathText(const Path&);

private:
    std::string text_;
};

}  // namespace emf
