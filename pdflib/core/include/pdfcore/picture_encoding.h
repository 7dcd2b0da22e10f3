// A loaded picture's image stream as the document core stores it. Header
// only: the picture loaders themselves do not depend on the document core.
#pragma once

#include <memory>
#include <utility>

#include "pdfcore/document.h"
#include "pictures/picture.h"

namespace images {

inline pdfcore::EncodedImage ToEncodedImage(PdfImage&& im) {
    pdfcore::EncodedImage e;
    e.colorSpace = im.ColorSpaceText();
    e.iccComponents = im.iccProfile.empty() ? 0 : im.Components();
    e.iccProfile = std::move(im.iccProfile);
    e.data = std::move(im.data);
    e.filter = std::move(im.filter);
    e.decodeParms = std::move(im.decodeParms);
    e.bitsPerComponent = im.bitsPerComponent;
    e.width = im.width, e.height = im.height;
    e.decode = std::move(im.decode);
    if (im.softMask) {
        PdfImage mask = *im.softMask;
        e.softMask = std::make_shared<pdfcore::EncodedImage>(ToEncodedImage(std::move(mask)));
    }
    return e;
}

}  // namespace images
