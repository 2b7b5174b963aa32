#pragma once
// The process-wide idle hook consulted during blocking waits. No concrete hook
// exists in this program, so every consultation does nothing.

#include "net/IdComponent.h"

class TIdAntiFreezeBase : public TIdBaseComponent {
public:
    // Raises EIdException when a hook already exists.
    explicit TIdAntiFreezeBase(TIdBaseComponent* owner = nullptr);
    ~TIdAntiFreezeBase() override;

    static bool ShouldUse();
    // Consultation point after sends, connect steps and readability waits.
    static void DoProcess(bool idle = true);

    bool Active = true;
    bool ApplicationHasPriority = true;
    int IdleTimeOut = 250;
    bool OnlyWhenIdle = true;

protected:
    virtual void Process() {}
};
