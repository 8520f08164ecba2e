#include "media/RenderEngine.h"

namespace media {

TCopyPlan PlanCopy(const std::string& sourceFile, double mediaStart, double mediaStop) {
    (void)sourceFile;
    (void)mediaStart;
    (void)mediaStop;
    TCopyPlan plan;
    plan.Why = "Copying is not available yet.";
    return plan;
}

}  // namespace media
