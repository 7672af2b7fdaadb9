#include "scene/AEO_ObjectBase.h"

#include "host/aeLibInit.h"

namespace AEO {

const SPBasicSuite *CurrentBasicSuite() {
    const aeLibInit *context = aeLibInit::_current;
    if (!context) return nullptr;
    const PF_InData *in_data = context->getInData();
    return in_data ? in_data->pica_basicP : nullptr;
}

} // namespace AEO
