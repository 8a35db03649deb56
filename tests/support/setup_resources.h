// The setup program's dialog resources for the Windows model.
#pragma once

// Hands the model the setup's templates (template 100), as the resource
// compiler puts them into the executable on Windows.
void load_setup_resources();
