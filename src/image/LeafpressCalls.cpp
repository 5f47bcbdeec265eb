#include "image/LeafpressCalls.h"

#include "leafpress/leafpress.h"

namespace pagewren {

const LeafpressCalls& LeafpressCalls::Library()
{
    static const LeafpressCalls calls{LPRS_AddImage, LPRS_SetDPI, LPRS_MakePDF};
    return calls;
}

} // namespace pagewren
