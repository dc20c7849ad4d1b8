"""Stand-in for mlflow: each flavor module loads the pickle that the model directory holds."""
