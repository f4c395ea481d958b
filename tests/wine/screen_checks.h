// Deskcap against Wine's GDI and USER, on the virtual screen.
#pragma once

class Deskcap;

void screenChecks(const Deskcap& deskcap);
