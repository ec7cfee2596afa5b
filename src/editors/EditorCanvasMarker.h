#pragma once
// Marks the widget of an editor window that shows the picture: the window's canvas frame is the
// first child that carries this mark.

class EditorCanvasMarker {
public:
    virtual ~EditorCanvasMarker() = default;
};
