"""The console commands: ``tavrin-train`` (train), ``tavrin-eval`` (eval) and
``tavrin-render`` (render). Each parses its flags and calls the layers below;
none holds logic of its own beyond turning failures into one-line errors."""
