// The page files a ticket lists that belong to its job and may be deleted.
#pragma once

#include <string>
#include <vector>

namespace relay {

// [EMF] File0 .. File<count-1> (each read up to 260 characters), keeping
// only what a dispatcher could have written: a page copy "~emf*.emf" in the
// ticket's own folder. Anything else (the "Invalid metafile" mark, a path
// elsewhere, a name climbing out with "..", another kind of file) is passed
// over, so a damaged or hostile ticket cannot make us delete other files.
// A count beyond the entries there are (or negative) lists what is there.
std::vector<std::string> JobPageFiles(const std::string& ticket, int count);

}  // namespace relay
