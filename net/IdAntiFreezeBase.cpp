#include "net/IdAntiFreezeBase.h"

#include "net/IdException.h"

namespace {
TIdAntiFreezeBase* gHook = nullptr;
}

TIdAntiFreezeBase::TIdAntiFreezeBase(TIdBaseComponent* owner) : TIdBaseComponent(owner) {
    if (gHook) throw EIdException("Only one TIdAntiFreeze can exist per application.");
    gHook = this;
}

TIdAntiFreezeBase::~TIdAntiFreezeBase() {
    if (gHook == this) gHook = nullptr;
}

bool TIdAntiFreezeBase::ShouldUse() {
    return false;
}

void TIdAntiFreezeBase::DoProcess(bool) {
    if (ShouldUse() && gHook && gHook->Active) gHook->Process();
}
