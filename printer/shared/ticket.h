// The job ticket's sections and keys, in the order the dispatcher writes them.
#pragma once

namespace vmshared::ticket {

inline constexpr char kDevice[] = "Device";
inline constexpr char kDeviceName[] = "DeviceName";

inline constexpr char kDocument[] = "Document";
inline constexpr char kName[] = "Name";
inline constexpr char kHorizontalResolution[] = "HorizontalResolution";
inline constexpr char kVerticalResolution[] = "VerticalResolution";
inline constexpr char kOrientation[] = "Orientation";
inline constexpr char kPaperSize[] = "PaperSize";
inline constexpr char kPaperSizeName[] = "PaperSizeName";
inline constexpr char kPaperWidth[] = "PaperWidth";
inline constexpr char kPaperLength[] = "PaperLength";
inline constexpr char kPages[] = "Pages";
inline constexpr char kCopies[] = "Copies";
inline constexpr char kCollate[] = "Collate";
inline constexpr char kBin[] = "Bin";
inline constexpr char kBinName[] = "BinName";
inline constexpr char kJobId[] = "JobID";
inline constexpr char kPreprocessingResult[] = "PreprocessingResult";

inline constexpr char kEmf[] = "EMF";
inline constexpr char kCount[] = "Count";
inline constexpr char kFileFormat[] = "File%d";  // File0, File1, ...

// The page entry of a page file that could not be copied.
inline constexpr char kInvalidMetafile[] = "Invalid metafile";

// Page files the printing side leaves in the spool folder.
inline constexpr char kPagePattern[] = "~emf*.tmp";

}  // namespace vmshared::ticket
