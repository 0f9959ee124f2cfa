// The whole toolkit in one include.
#pragma once

#include "vemo/ui/Application.h"
#include "vemo/ui/Button.h"
#include "vemo/ui/Exceptions.h"
#include "vemo/ui/ImGuiPanel.h"
#include "vemo/ui/Math.h"
#include "vemo/ui/Rectangle.h"
#include "vemo/ui/RenderContext.h"
#include "vemo/ui/Renderer.h"
#include "vemo/ui/Resources.h"
#include "vemo/ui/ScrollView.h"
#include "vemo/ui/Stack.h"
#include "vemo/ui/TextElement.h"
#include "vemo/ui/Widget.h"
#include "vemo/ui/Window.h"
