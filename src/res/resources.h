#pragma once

// Registers the images built into the program; call once before any widget loads one.
void InitGuiResources();
