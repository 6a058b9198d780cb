"""The picture of harvest-plot --model, drawn by ParaView: run by pvbatch (under xvfb-run), never
imported by harvest-plot itself.

  pvbatch pvrender.py JOB.json

JOB.json holds: xdmf (an odb2xdmf export of one frame, absolute path), array and centre ('CELLS' or
'POINTS') to colour by, title, png, width, height, and marks: a list of {label, instance, kind
('element' or 'node'), at [x, y, z], text, colour [r, g, b]}. The model is drawn as a surface
coloured by the array with a colour legend, seen along direction (from the camera to the model's
centre, reversed) when given; each marked element is outlined and each mark gets
a sphere in its colour, and its text goes in the corner in the same colour.
"""
import json
import sys

from paraview import simple


def outline(reader, mark, colour, view):
    """The marked element's edges, thick, in the mark's colour."""
    picked = simple.Threshold(Input=reader, Scalars=["CELLS", "element_label"],
                              LowerThreshold=mark["label"], UpperThreshold=mark["label"])
    picked = simple.Threshold(Input=picked, Scalars=["CELLS", "instance"],
                              LowerThreshold=mark["instance"], UpperThreshold=mark["instance"])
    shown = simple.Show(picked, view)
    shown.SetRepresentationType("Wireframe")
    shown.ColorArrayName = ["POINTS", ""]
    shown.AmbientColor = shown.DiffuseColor = colour
    shown.LineWidth = 4.0
    shown.RenderLinesAsTubes = 1


def main(job_path):
    with open(job_path) as f:
        job = json.load(f)
    view = simple.CreateView("RenderView")
    view.ViewSize = [job["width"], job["height"]]
    view.OrientationAxesVisibility = 1
    view.Background = [1.0, 1.0, 1.0]
    try:
        view.UseColorPaletteForBackground = 0
    except AttributeError:
        pass
    reader = simple.Xdmf3ReaderS(FileName=[job["xdmf"]])
    reader.UpdatePipeline()
    shown = simple.Show(reader, view)
    shown.SetRepresentationType("Surface With Edges")
    shown.EdgeColor = [0.25, 0.25, 0.25]
    simple.ColorBy(shown, (job["centre"], job["array"]))
    shown.RescaleTransferFunctionToDataRange(True, False)
    lut = simple.GetColorTransferFunction(job["array"])
    lut.ApplyPreset("Jet", True)
    shown.SetScalarBarVisibility(view, True)
    bar = simple.GetScalarBar(lut, view)
    bar.Title = job["array"]
    bar.ComponentTitle = ""
    bar.TitleColor = bar.LabelColor = [0.0, 0.0, 0.0]

    (x0, x1, y0, y1, z0, z1) = reader.GetDataInformation().GetBounds()
    size = max(x1 - x0, y1 - y0, z1 - z0, 1e-30)
    lines = [job["title"]]
    for mark in job["marks"]:
        colour = mark["colour"]
        if mark["kind"] == "element":
            outline(reader, mark, colour, view)
        ball = simple.Sphere(Center=mark["at"], Radius=0.03 * size, ThetaResolution=24, PhiResolution=24)
        ball_shown = simple.Show(ball, view)
        ball_shown.ColorArrayName = ["POINTS", ""]
        ball_shown.AmbientColor = ball_shown.DiffuseColor = colour
        text = simple.Text(Text=mark["text"])
        text_shown = simple.Show(text, view)
        text_shown.Color = colour
        text_shown.FontSize = 15
        text_shown.WindowLocation = "Any Location"
        text_shown.Position = [0.01, 0.93 - 0.045 * len(lines)]
        lines.append(mark["text"])
    title = simple.Text(Text=job["title"])
    title_shown = simple.Show(title, view)
    title_shown.Color = [0.0, 0.0, 0.0]
    title_shown.FontSize = 16
    title_shown.WindowLocation = "Upper Center"

    centre = [(x0 + x1) / 2, (y0 + y1) / 2, (z0 + z1) / 2]
    flat = (z1 - z0) <= 1e-9 * size
    direction = job.get("direction") or [1.0, -1.3, 0.9]
    if flat:
        direction = [0.0, 0.0, 1.0]
    view.CameraFocalPoint = centre
    view.CameraPosition = [c + 3 * size * d for c, d in zip(centre, direction)]
    view.CameraViewUp = [0.0, 1.0, 0.0] if flat else [0.0, 0.0, 1.0]
    view.ResetCamera(False)
    view.GetActiveCamera().Dolly(1.25)
    simple.Render(view)
    simple.SaveScreenshot(job["png"], view, ImageResolution=[job["width"], job["height"]])


if __name__ == "__main__":
    main(sys.argv[1])
