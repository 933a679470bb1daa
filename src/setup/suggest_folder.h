// The install folder that the welcome dialog proposes.
#pragma once

// Fills setupState.suggestedFolder.
void SuggestInstallFolder();
