#pragma once
double now_ms();
