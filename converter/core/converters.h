// The format converters. Each runs inside the frame (frame.h):
// BeginFileFrame, its own loading and queueing, then EndFileFrame; it only
// loads its source and queues a PageSource. Every one returns a
// ConvertResult (context.h).
#pragma once

#include <cstdint>
#include <string>

#include "context.h"

namespace vellumate {

// html, htm, shtml, shtm, mht, txt: loaded by the add-on (convert_html.cpp).
bool IsHtmlExtension(const std::string& ext);
std::int32_t ConvertHtmlFile(ConversionContext& ctx, const std::string& source, const std::string& output);
// A web address (URL mode of the command line; convert_html.cpp).
std::int32_t ConvertUrl(ConversionContext& ctx, const std::string& url, const std::string& output);
// chm: unpacked, contents read, every topic loaded by the add-on (convert_chm.cpp).
std::int32_t ConvertChm(ConversionContext& ctx, const std::string& source, const std::string& output);
// doc, dot, rtf, wps, wri / xls, xlt, xlw / ppt, pps, pot: printed through
// the virtual printer (convert_office.cpp).
std::int32_t ConvertWord(ConversionContext& ctx, const std::string& source, const std::string& output);
std::int32_t ConvertExcel(ConversionContext& ctx, const std::string& source, const std::string& output);
std::int32_t ConvertPowerPoint(ConversionContext& ctx, const std::string& source, const std::string& output);
// The extensions (lower case) each application takes: the older binary
// formats above, and today's Office and OpenDocument formats.
bool IsWordExtension(const std::string& ext);        // + docx docm dotx odt ott
bool IsExcelExtension(const std::string& ext);       // + xlsx xlsm xltx ods ots
bool IsPowerPointExtension(const std::string& ext);  // + pptx ppsx potx odp otp
// jpg, jpeg, tif, tiff, gif, emf, bmp, png: pictures held by the PDF
// document, one page each (convert_picture.cpp).
std::int32_t ConvertPicture(ConversionContext& ctx, const std::string& source, const std::string& output);

}  // namespace vellumate
