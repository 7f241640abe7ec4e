# String lists that the host shows for the Brimtone effect.
# Compiled by brimtone-rez into Brimtone.rsrc at build time.
#
# The host's three sliders do not change the picture: the effect is set up in
# its own dialog, so the labels send the user there.

resource 'STR#' 128 "Host slider labels" {
    "Threshold: set it with Configure…";
    "Colours: pick them with Configure…";
    "Region: draw it with Configure…";
}

resource 'STR#' 129 "Host slider end labels" {
    "Dark";
    "Light";
    "First colour";
    "Second colour";
    "Small";
    "Whole frame";
}

resource 'STR#' 130 "Button title" {
    "Configure…";
}

resource 'STR#' 17000 "Effect group" {
    "Brimtone Effects";
}
