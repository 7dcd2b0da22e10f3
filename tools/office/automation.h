// The three application classes the converter drives by late-bound
// automation, answered by the office process (office_session.h). Each
// application object takes the run's office session when it is made (the
// creation fails when no office can be started) and lets go of it at Quit or
// its last release; the session itself lasts until the run ends.
//
// Objects and members (names as the converter calls them; lengths in points):
//   Word.Application: Visible, DisplayAlerts, Documents, ActiveDocument, PrintOut, Quit
//     Documents.Open(FileName, ConfirmConversions, ReadOnly, AddToRecentFiles, ...) -> Document
//     Document: PageSetup (get; put takes a PageSetup back), PrintOut, Close
//     PageSetup: Orientation (0 portrait, 1 landscape), PageWidth, PageHeight,
//                LeftMargin, TopMargin, RightMargin, BottomMargin
//   Excel.Application: Visible, DisplayAlerts, Workbooks, Quit
//     Workbooks.Open(FileName, ...) -> Workbook: ActiveSheet, PrintOut, Close
//     Worksheet: PageSetup, with dispatch ids Orientation 134 (1 portrait,
//                2 landscape), LeftMargin 999, RightMargin 1000, TopMargin 1001, BottomMargin 1002
//   PowerPoint.Application: Visible, DisplayAlerts, Presentations, Quit
//     Presentations.Open(FileName, ReadOnly, Untitled, WithWindow) -> Presentation
//     Presentation: PageSetup (SlideWidth, SlideHeight), PrintOut(From, To), Close
// Changes to a page set-up are written to the document when it is assigned
// back or when the document prints. Errors of the office reach the caller as
// DISP_E_EXCEPTION with the office's text. A closed document (Close, Quit) is
// closed in the office in the background. Each application object also
// answers IOfficeLookahead (vmoffice/office_lookahead.h, lookahead.h).
#pragma once

#include "platform/com.h"

namespace vmoffice {

constexpr com::CLSID CLSID_WordApplication{0x000209FF, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr com::CLSID CLSID_ExcelApplication{0x00024500, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr com::CLSID CLSID_PowerPointApplication{
    0x91493441, 0x5A91, 0x11CF, {0x87, 0x00, 0x00, 0xAA, 0x00, 0x60, 0x26, 0x3B}};

// DllGetClassObject for the three classes.
com::HRESULT GetApplicationClass(com::REFCLSID clsid, com::REFIID riid, void** ppv);

}  // namespace vmoffice
